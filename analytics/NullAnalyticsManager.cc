#include "analytics/NullAnalyticsManager.h"

#include "analytics/TrackEventWork.h"

namespace vrexa {

std::shared_ptr<TrackEventWork> NullAnalyticsManager::CreateEventWork(int kind) {
    return std::make_shared<NullTrackEventWork>(kind);
}

void NullAnalyticsManager::TrackEvent(std::shared_ptr<TrackEventWork>) {}

}  // namespace vrexa
