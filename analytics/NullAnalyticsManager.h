#pragma once

#include "analytics/AnalyticsManager.h"

namespace vrexa {

// Analytics switched off: documents are built but never sent, and no thread
// is kept for them.
class NullAnalyticsManager : public AnalyticsManager {
public:
    NullAnalyticsManager() : AnalyticsManager(0) {}

    std::shared_ptr<TrackEventWork> CreateEventWork(int kind) override;
    void TrackEvent(std::shared_ptr<TrackEventWork> work) override;
};

}  // namespace vrexa
