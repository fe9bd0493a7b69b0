#pragma once

#include <memory>
#include <string>

#include "analytics/AnalyticsManager.h"

namespace vrexa {

namespace http {
class RequestFactory;
class Session;
}  // namespace http

struct TransferSettings;

// Posts analytics documents as JSON over HTTP from three threads: transfer
// documents (kind 32) to the transfer endpoint, every other kind to the events
// endpoint. Destroying it first sends every document already tracked, as far
// as the shutdown timeout allows.
class JsonHttpAnalyticsManager : public AnalyticsManager {
public:
    static constexpr unsigned kThreads = 3;

    // Reads the endpoints, timeouts and retry limit from settings; the request
    // factory must outlive the manager.
    JsonHttpAnalyticsManager(http::RequestFactory& requestFactory, std::shared_ptr<http::Session> session,
                             const TransferSettings& settings);
    ~JsonHttpAnalyticsManager() override;

    std::shared_ptr<TrackEventWork> CreateEventWork(int kind) override;

private:
    http::RequestFactory& requestFactory_;
    const std::shared_ptr<http::Session> session_;
    const std::string transferUrl_;
    const std::string eventsUrl_;
    const int connectTimeout_;
    const int timeout_;
    const unsigned retryLimit_;
    const int shutdownTimeout_;  // seconds
};

}  // namespace vrexa
