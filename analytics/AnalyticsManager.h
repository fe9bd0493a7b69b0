#pragma once

#include "analytics/EventManager.h"

namespace vrexa {

// Kinds of analytics documents: every event document goes to the events
// endpoint, the transfer progress documents to the transfer endpoint.
inline constexpr int kEventAnalyticsKind = 1;
inline constexpr int kTransferAnalyticsKind = 32;

// The event manager that sends analytics documents.
class AnalyticsManager : public EventManager {
public:
    using EventManager::EventManager;
};

}  // namespace vrexa
