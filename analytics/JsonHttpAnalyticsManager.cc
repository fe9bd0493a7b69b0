#include "analytics/JsonHttpAnalyticsManager.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "analytics/JsonHttpAnalyticsEventWork.h"
#include "transfer/TransferBehavior.h"

namespace vrexa {

JsonHttpAnalyticsManager::JsonHttpAnalyticsManager(http::RequestFactory& requestFactory,
                                                   std::shared_ptr<http::Session> session,
                                                   const TransferSettings& settings)
    : AnalyticsManager(kThreads),
      requestFactory_(requestFactory),
      session_(std::move(session)),
      transferUrl_(settings.transferAnalyticsUrl),
      eventsUrl_(settings.eventsAnalyticsUrl),
      connectTimeout_(settings.analyticsConnectTimeout),
      timeout_(settings.analyticsTimeout),
      // A negative limit means no second attempt, not four billion of them.
      retryLimit_(settings.analyticsRetryLimit > 0 ? static_cast<unsigned>(settings.analyticsRetryLimit) : 0u),
      shutdownTimeout_(std::max(settings.analyticsShutdownTimeout, 0)) {}

JsonHttpAnalyticsManager::~JsonHttpAnalyticsManager() {
    // The posts in the queue use the session and factory: send them while both
    // are still here.
    Drain(std::chrono::seconds(shutdownTimeout_));
}

std::shared_ptr<TrackEventWork> JsonHttpAnalyticsManager::CreateEventWork(int kind) {
    const std::string& url = kind == kTransferAnalyticsKind ? transferUrl_ : eventsUrl_;
    return std::make_shared<JsonHttpAnalyticsEventWork>(kind, url, requestFactory_, session_, connectTimeout_, timeout_,
                                                        retryLimit_);
}

}  // namespace vrexa
