#include "analytics/JsonHttpAnalyticsEventWork.h"

#include <sstream>
#include <utility>

#include "analytics/JsonWriter.h"
#include "http/Request.h"
#include "http/RequestFactory.h"
#include "http/RequestParams.h"
#include "http/Session.h"
#include "http/StringstreamWriter.h"

namespace vrexa {

JsonHttpAnalyticsEventWork::JsonHttpAnalyticsEventWork(int kind, std::string url, http::RequestFactory& requestFactory,
                                                       std::shared_ptr<http::Session> session, int connectTimeout,
                                                       int timeout, unsigned maxRetries)
    : TrackEventWork(kind),
      url_(std::move(url)),
      requestFactory_(requestFactory),
      session_(std::move(session)),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      maxRetries_(maxRetries) {}

void JsonHttpAnalyticsEventWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "JsonHttpAnalyticsEventWork");
}

bool JsonHttpAnalyticsEventWork::ShouldRetry() {
    if (retries_ >= maxRetries_) return false;
    ++retries_;
    return true;
}

void JsonHttpAnalyticsEventWork::Reset() {
    TrackEventWork::Reset();
    retries_ = 0;
}

WorkResult JsonHttpAnalyticsEventWork::ResultForState(http::State state) {
    switch (state) {
        case http::State::Succeeded:
            return WorkResult::Success;
        case http::State::ConnectError:
        case http::State::ServerError:
        case http::State::SecurityError:
            return WorkResult::RetryableError;
        default:
            return WorkResult::FatalError;
    }
}

WorkStatus JsonHttpAnalyticsEventWork::ExecuteTask() {
    try {
        std::ostringstream response;  // read and ignored: only the outcome matters
        http::StringstreamWriter writer(&response);
        http::RequestParams params(url_, &writer);
        params.method = http::RequestMethod::Post;
        params.contentType = "application/json";
        params.body = ToJson(GetTree());
        params.connectTimeout = connectTimeout_;
        params.timeout = timeout_;

        std::shared_ptr<http::Request> request = requestFactory_.CreateRequest(params, session_);
        {
            std::lock_guard lock(requestMutex_);
            request_ = request;
        }
        // A cancel that came before the request was published must still stop it.
        if (IsCancelled()) request->Abort();
        const http::RequestStatus status = request->Perform();
        {
            std::lock_guard lock(requestMutex_);
            request_.reset();
        }
        return WorkStatus(ResultForState(status.state), nullptr);
    } catch (...) {
        std::lock_guard lock(requestMutex_);
        request_.reset();
        return WorkStatus(WorkResult::FatalError, nullptr);
    }
}

void JsonHttpAnalyticsEventWork::OnCancel() {
    std::shared_ptr<http::Request> request;
    {
        std::lock_guard lock(requestMutex_);
        request = request_;
    }
    if (request) request->Abort();
}

}  // namespace vrexa
