#include "http/CurlRequest.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "http/WriteCallback.h"

namespace vrexa::http {
namespace {

// libcurl's global state is set up once before any request can exist and torn
// down once after the last: a static object does both, and every request checks
// the recorded result instead of calling the global functions itself.
class CurlGlobal {
public:
    CurlGlobal() : result_(curl_global_init(CURL_GLOBAL_ALL)) {}
    ~CurlGlobal() {
        if (result_ == CURLE_OK) curl_global_cleanup();
    }
    bool Ok() const { return result_ == CURLE_OK; }

private:
    const CURLcode result_;
};

const CurlGlobal curlGlobal;

constexpr int kAbortProgress = 42;

}  // namespace

State StateForCurlCode(int code, std::int32_t responseCode) {
    switch (code) {
        case 1:
        case 3:
        case 4:
            return State::InvalidRequest;
        case 5:
        case 6:
            return State::ResolveError;
        case 7:
            return State::ConnectError;
        case 9:
        case 22:
        case 78:
            // Compared unsigned: no response (0) counts as a client error.
            return static_cast<std::uint32_t>(responseCode) < 500u ? State::ClientError : State::ServerError;
        case 18:
        case 33:
            return State::RangeError;
        case 23:
            return State::WriteError;
        case 27:
            return State::OutOfMemory;
        case 28:
            return State::Timeout;
        case 55:
        case 56:
            return State::TransmitError;
        case 35:
        case 51:
        case 53:
        case 54:
        case 58:
        case 59:
        case 60:
        case 66:
        case 77:
        case 82:
        case 83:
            return State::SecurityError;
        default:
            return State::OtherError;
    }
}

std::uint32_t CappedMilliseconds(bool queryOk, double seconds, std::int32_t connectTimeout, std::int32_t timeout) {
    constexpr double kMaxSeconds = 4294967.0;
    constexpr std::uint32_t kMax = 0xFFFFFFFFu;
    std::uint32_t ms = 0;
    if (queryOk && seconds > 0) {
        ms = seconds > kMaxSeconds ? kMax : static_cast<std::uint32_t>(seconds * 1000);
    }
    const std::int64_t hi = std::max(connectTimeout, timeout);
    const std::int64_t lo = std::min(connectTimeout, timeout);
    const std::int64_t ceilingSeconds = hi < 0 ? 604800 : (lo > 0 ? hi + lo : hi);
    const std::uint32_t ceiling = ceilingSeconds > 4294967 ? kMax : static_cast<std::uint32_t>(ceilingSeconds * 1000);
    return std::min(ms, ceiling);
}

CurlRequest::CurlRequest(const RequestParams& params, std::shared_ptr<Proxy> proxy)
    : Request(params, std::move(proxy)) {
    if (!curlGlobal.Ok()) {
        throw std::runtime_error("libcurl could not be initialized");
    }
    handle_ = curl_easy_init();
    if (handle_ == nullptr) {
        throw std::runtime_error("curl_easy_init failed");
    }
    try {
        Arm(DescribeProxy(proxy_.get(), params_.url));
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        curl_slist_free_all(headers_);
        curl_easy_cleanup(handle_);
        throw;
    }
}

CurlRequest::~CurlRequest() {
    curl_easy_cleanup(handle_);
    curl_slist_free_all(headers_);
}

CurlRequest::ProxyChoice CurlRequest::DescribeProxy(const Proxy* proxy, const std::string& url) {
    ProxyChoice choice;
    if (proxy != nullptr) {
        choice.config = proxy->Describe();
        choice.url = proxy->GetProxyForUrl(url);
    }
    return choice;
}

void CurlRequest::Arm(ProxyChoice proxy) {
    // Keeps the handle's connections and name cache, so a re-armed request reuses them.
    curl_easy_reset(handle_);
    curl_slist_free_all(headers_);
    headers_ = nullptr;
    errorBuffer_[0] = '\0';
    bodyChecked_ = false;

    // Requests run on worker threads; signals would hit whichever thread is current.
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_URL, params_.url.c_str());
    curl_easy_setopt(handle_, CURLOPT_USERAGENT, params_.userAgent.c_str());
    if (params_.method == RequestMethod::Post) {
        curl_easy_setopt(handle_, CURLOPT_POST, 1L);
        // The body lives in params_, which stays unchanged until the next arming.
        // Its size is given so that a body holding zero bytes is sent whole.
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(params_.body.size()));
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, params_.body.c_str());
        curl_slist* headers = curl_slist_append(headers_, ("Content-Type: " + params_.contentType).c_str());
        if (headers == nullptr) throw std::bad_alloc();
        headers_ = headers;
    }
    if (params_.rangeFirst != 0 || params_.rangeLast != RequestParams::kOpenEnd) {
        const std::string range = std::to_string(params_.rangeFirst) + "-" + std::to_string(params_.rangeLast);
        curl_easy_setopt(handle_, CURLOPT_RANGE, range.c_str());
    } else if (!params_.acceptEncoding.empty()) {
        // A ranged request never asks for an encoding: the range is of the raw bytes.
        curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, params_.acceptEncoding.c_str());
    }
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnWrite);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &CurlRequest::OnProgress);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
    // One redirect is followed (a node or cache may move a file once); more is a
    // misconfigured server.
    curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 1L);
    // An error page must never reach the writer (it would land in a file).
    curl_easy_setopt(handle_, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(params_.connectTimeout));
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, static_cast<long>(params_.timeout));
    if (params_.lowSpeedLimit > 0 && params_.lowSpeedTime > 0) {
        curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(params_.lowSpeedLimit));
        curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(params_.lowSpeedTime));
    }
    status_.proxyConfig = std::move(proxy.config);
    status_.proxyUrl = std::move(proxy.url);
    // An empty proxy option means "direct" to libcurl; left unset, libcurl would
    // consult the proxy environment variables itself and could overrule the
    // proxy's own choice (a bypassed host, or no proxy at all).
    curl_easy_setopt(handle_, CURLOPT_PROXY, status_.proxyUrl.c_str());
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
}

RequestStatus CurlRequest::Perform() {
    {
        std::lock_guard lock(mutex_);
        if (status_.state != State::Ready) {
            return status_;
        }
        performing_ = true;
        status_.state = State::Running;
    }
    const CURLcode code = curl_easy_perform(handle_);
    Evaluate(code);
    std::lock_guard lock(mutex_);
    return status_;
}

void CurlRequest::Evaluate(CURLcode code) {
    std::lock_guard lock(mutex_);
    long responseCode = 0;
    if (curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &responseCode) == CURLE_OK) {
        status_.responseCode = static_cast<std::int32_t>(responseCode);
    }
    char* primaryIp = nullptr;
    if (curl_easy_getinfo(handle_, CURLINFO_PRIMARY_IP, &primaryIp) == CURLE_OK && primaryIp != nullptr) {
        status_.primaryIp = primaryIp;
    }
    auto time = [this](CURLINFO info) {
        double seconds = 0;
        const bool ok = curl_easy_getinfo(handle_, info, &seconds) == CURLE_OK;
        return CappedMilliseconds(ok, seconds, params_.connectTimeout, params_.timeout);
    };
    status_.resolveTimeMs = time(CURLINFO_NAMELOOKUP_TIME);
    status_.connectTimeMs = time(CURLINFO_CONNECT_TIME);
    status_.firstByteTimeMs = time(CURLINFO_STARTTRANSFER_TIME);
    status_.totalTimeMs = time(CURLINFO_TOTAL_TIME);
    performing_ = false;

    // An abort or a writer's verdict already decided the outcome.
    if (status_.state != State::Running) {
        return;
    }
    if (code == CURLE_OK) {
        status_.state = State::Succeeded;
        return;
    }
    status_.state = StateForCurlCode(code, status_.responseCode);
    status_.errorMessage = "libcurl error " + std::to_string(static_cast<int>(code)) + " (HTTP " +
                           std::to_string(status_.responseCode) + ")";
    status_.errorDetail = errorBuffer_;
}

size_t CurlRequest::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<CurlRequest*>(self);
    const std::size_t total = size * count;
    bool wholeResource = false;
    {
        std::lock_guard lock(request->mutex_);
        if (request->status_.state != State::Running) {
            return 0;
        }
        // A server that ignores a range starting past byte 0 answers 200 with the
        // resource from its beginning: those bytes belong elsewhere in the file and
        // must not reach the writer.
        if (!request->bodyChecked_) {
            request->bodyChecked_ = true;
            long responseCode = 0;
            curl_easy_getinfo(request->handle_, CURLINFO_RESPONSE_CODE, &responseCode);
            wholeResource = request->params_.rangeFirst != 0 && responseCode == 200;
            if (wholeResource) {
                request->status_.state = State::RangeError;
                request->status_.errorMessage = "range " + std::to_string(request->params_.rangeFirst) +
                                                "- requested but the whole resource was sent (HTTP 200)";
                return 0;
            }
        }
    }

    RequestStatus result;
    WriteCallback* writer = request->params_.writer;
    if (writer == nullptr) {
        // Nobody wants the body: it is taken and dropped.
        result.state = State::Succeeded;
        result.bytes = total;
    } else {
        result = writer->Write(data, total);
    }

    std::lock_guard lock(request->mutex_);
    request->status_.bytes += result.bytes;
    if (request->status_.state == State::Running && result.state != State::Succeeded) {
        request->status_.state = (result.state == State::RangeError || result.state == State::OutOfMemory)
                                     ? result.state
                                     : State::WriteError;
        request->status_.errorMessage = result.errorMessage;
    }
    // A writer can never take more than it was offered.
    return static_cast<size_t>(std::min<std::uint64_t>(result.bytes, total));
}

int CurlRequest::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* request = static_cast<CurlRequest*>(self);
    std::lock_guard lock(request->mutex_);
    return request->status_.state == State::Running ? 0 : kAbortProgress;
}

RequestStatus CurlRequest::GetStatus() {
    std::lock_guard lock(mutex_);
    return status_;
}

void CurlRequest::Abort() {
    std::lock_guard lock(mutex_);
    if (status_.state == State::Ready || status_.state == State::Running) {
        status_.state = State::Aborted;
    }
}

bool CurlRequest::Reset(const RequestParams& params, std::shared_ptr<Proxy> proxy) {
    std::lock_guard lock(mutex_);
    if (status_.state == State::Running || performing_) {
        return false;
    }
    // Asked first: a proxy that throws leaves the request as it was.
    ProxyChoice choice = DescribeProxy(proxy.get(), params.url);
    params_ = params;
    proxy_ = std::move(proxy);
    status_ = RequestStatus();
    Arm(std::move(choice));
    return true;
}

}  // namespace vrexa::http
