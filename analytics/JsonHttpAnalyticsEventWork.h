#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "analytics/TrackEventWork.h"
#include "http/State.h"

namespace vrexa {

namespace http {
class Request;
class RequestFactory;
class Session;
}  // namespace http

// Posts its tree as a JSON document. A failure that may heal (no connection,
// a 5xx answer, a TLS failure) is sent again at once, up to maxRetries times;
// then, or on any other failure, the document is dropped.
class JsonHttpAnalyticsEventWork : public TrackEventWork {
public:
    JsonHttpAnalyticsEventWork(int kind, std::string url, http::RequestFactory& requestFactory,
                               std::shared_ptr<http::Session> session, int connectTimeout, int timeout,
                               unsigned maxRetries);

    void Describe(boost::property_tree::ptree& tree) const override;
    bool ShouldRetry() override;
    void Reset() override;
    WorkStatus ExecuteTask() override;
    // Aborts the request in flight, if any.
    void OnCancel() override;

    const std::string& GetUrl() const { return url_; }

    // The work's result for a request that ended in state.
    static WorkResult ResultForState(http::State state);

private:
    const std::string url_;
    http::RequestFactory& requestFactory_;
    const std::shared_ptr<http::Session> session_;
    const int connectTimeout_;  // seconds
    const int timeout_;         // seconds
    const unsigned maxRetries_;
    unsigned retries_ = 0;

    std::mutex requestMutex_;  // guards request_: OnCancel comes from another thread
    std::shared_ptr<http::Request> request_;
};

}  // namespace vrexa
