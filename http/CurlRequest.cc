#include "http/CurlRequest.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <stdexcept>
#include <string>

#include "http/ManualProxy.h"
#include "http/RateLimiter.h"
#include "http/WriteCallback.h"

namespace vrexa::http {
namespace {

// A URL as statuses may show it: user-info in its authority replaced by
// "***". Only the authority is searched, as a path may hold "@".
std::string MaskUrlUserInfo(const std::string& url) {
    const std::size_t separator = url.find("://");
    const std::size_t start = separator == std::string::npos ? 0 : separator + 3;
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < start) return url;
    return url.substr(0, start) + "***" + url.substr(at);
}

// The receive buffer of a ranged request (libcurl's default is 16 KiB).
constexpr long kRangeBufferSize = 256L * 1024;

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

// The scheme compared without regard to case, as URLs allow.
bool IsHttpsUrl(const std::string& url) {
    static constexpr char kScheme[] = "https:";
    if (url.size() < sizeof kScheme - 1) return false;
    for (std::size_t i = 0; i + 1 < sizeof kScheme; ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
    }
    return true;
}

}  // namespace

State StateForCurlCode(int code, std::int32_t responseCode) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_NOT_BUILT_IN:
            return State::InvalidRequest;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return State::ResolveError;
        case CURLE_COULDNT_CONNECT:
            return State::ConnectError;
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_HTTP_RETURNED_ERROR:
        case CURLE_REMOTE_FILE_NOT_FOUND:
            // Compared unsigned: no response (0) counts as a client error.
            return static_cast<std::uint32_t>(responseCode) < 500u ? State::ClientError : State::ServerError;
        case CURLE_PARTIAL_FILE:
        case CURLE_RANGE_ERROR:
            return State::RangeError;
        case CURLE_WRITE_ERROR:
            return State::WriteError;
        case CURLE_OUT_OF_MEMORY:
            // Past a response code the memory was asked for by the peer (a
            // header line of 100 KB and more): that node's fault, not ours.
            return responseCode != 0 ? State::TransmitError : State::OutOfMemory;
        case CURLE_OPERATION_TIMEDOUT:
            return State::Timeout;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return State::TransmitError;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_OBSOLETE51:  // the peer-certificate code of older libcurl
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return State::SecurityError;
        default:
            return State::OtherError;
    }
}

std::uint32_t CappedMilliseconds(bool queryOk, double seconds, std::int32_t connectTimeout, std::int32_t timeout) {
    // Milliseconds are reported in 32 bits: the most seconds they can hold.
    constexpr std::int64_t kMaxWholeSeconds = 4294967;
    constexpr double kMaxSeconds = static_cast<double>(kMaxWholeSeconds);
    constexpr std::uint32_t kMax = 0xFFFFFFFFu;
    // Without any timeout a request is still reported as at most a week.
    constexpr std::int64_t kUnlimitedCeilingSeconds = 7 * 24 * 3600;
    std::uint32_t ms = 0;
    if (queryOk && seconds > 0) {
        ms = seconds > kMaxSeconds ? kMax : static_cast<std::uint32_t>(seconds * 1000);
    }
    const std::int64_t hi = std::max(connectTimeout, timeout);
    const std::int64_t lo = std::min(connectTimeout, timeout);
    const std::int64_t ceilingSeconds = hi < 0 ? kUnlimitedCeilingSeconds : (lo > 0 ? hi + lo : hi);
    const std::uint32_t ceiling =
        ceilingSeconds > kMaxWholeSeconds ? kMax : static_cast<std::uint32_t>(ceilingSeconds * 1000);
    return std::min(ms, ceiling);
}

CurlRequest::CurlRequest(const RequestParams& params, std::shared_ptr<Proxy> proxy, TlsSettings tls)
    : Request(params, std::move(proxy)), tls_(std::move(tls)) {
    if (!curlGlobal.Ok()) {
        throw std::runtime_error("libcurl could not be initialized");
    }
    handle_ = curl_easy_init();
    if (handle_ == nullptr) {
        throw std::runtime_error("curl_easy_init failed");
    }
    multi_ = curl_multi_init();
    if (multi_ == nullptr) {
        curl_easy_cleanup(handle_);
        throw std::runtime_error("curl_multi_init failed");
    }
    try {
        Arm(DescribeProxy(proxy_.get(), params_.url));
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        curl_slist_free_all(headers_);
        curl_multi_cleanup(multi_);
        curl_easy_cleanup(handle_);
        throw;
    }
}

CurlRequest::~CurlRequest() {
    // The easy handle is never left in the multi handle after an exchange.
    curl_multi_cleanup(multi_);
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
    responseChecked_ = false;
    verdict_ = ResponseVerdict();
    received_ = 0;
    held_ = false;

    // The first option libcurl refuses ends the arming; the request then ends
    // before it is performed, rather than running without a limit it was given.
    CURLcode refused = CURLE_OK;
    const char* refusedName = nullptr;
    auto set = [&](CURLoption option, const char* name, auto value) {
        if (refused != CURLE_OK) return;
        const CURLcode code = curl_easy_setopt(handle_, option, value);
        if (code != CURLE_OK) {
            refused = code;
            refusedName = name;
        }
    };

    // Requests run on worker threads; signals would hit whichever thread is current.
    set(CURLOPT_NOSIGNAL, "NOSIGNAL", 1L);
    // An abort while a name is being resolved must not wait for the lookup to end.
    set(CURLOPT_QUICK_EXIT, "QUICK_EXIT", 1L);
    set(CURLOPT_URL, "URL", params_.url.c_str());
    // Only the web's two protocols, for the URL and for every redirect: a
    // server must not send us to a local file or to any other protocol the
    // library happens to know. A secure exchange stays secure when redirected.
    set(CURLOPT_PROTOCOLS_STR, "PROTOCOLS_STR", "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "REDIR_PROTOCOLS_STR", IsHttpsUrl(params_.url) ? "https" : "http,https");
    // The defaults already, stated so that no later change can loosen them.
    set(CURLOPT_SSL_VERIFYPEER, "SSL_VERIFYPEER", 1L);
    set(CURLOPT_SSL_VERIFYHOST, "SSL_VERIFYHOST", 2L);
    if (!tls_.caFile.empty()) set(CURLOPT_CAINFO, "CAINFO", tls_.caFile.c_str());
    set(CURLOPT_USERAGENT, "USERAGENT", params_.userAgent.c_str());
    if (params_.method == RequestMethod::Post) {
        set(CURLOPT_POST, "POST", 1L);
        // The body lives in params_, which stays unchanged until the next arming.
        // Its size is given so that a body holding zero bytes is sent whole.
        set(CURLOPT_POSTFIELDSIZE_LARGE, "POSTFIELDSIZE_LARGE", static_cast<curl_off_t>(params_.body.size()));
        set(CURLOPT_POSTFIELDS, "POSTFIELDS", params_.body.c_str());
        curl_slist* headers = curl_slist_append(headers_, ("Content-Type: " + params_.contentType).c_str());
        if (headers == nullptr) throw std::bad_alloc();
        headers_ = headers;
    }
    if (params_.rangeFirst != 0 || params_.rangeLast != RequestParams::kOpenEnd) {
        const std::string range = std::to_string(params_.rangeFirst) + "-" + std::to_string(params_.rangeLast);
        set(CURLOPT_RANGE, "RANGE", range.c_str());
        // A range is a file's chunk, often a large one: bigger reads mean fewer
        // receive calls and fewer, larger writes into the file. Only a hint:
        // libcurl refuses a new size while the handle still holds the buffer of
        // an exchange that ended in an error (a refused redirect), and the
        // request then reads with the buffer it has rather than not at all.
        if (params_.rateLimiter == nullptr) curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, kRangeBufferSize);
    } else if (!params_.acceptEncoding.empty()) {
        // A ranged request never asks for an encoding: the range is of the raw bytes.
        set(CURLOPT_ACCEPT_ENCODING, "ACCEPT_ENCODING", params_.acceptEncoding.c_str());
    }
    if (params_.rateLimiter != nullptr) {
        // Each read is one block the limiter judges: small reads keep what
        // passes at once a small part of what the rate allows. A hint, like
        // the size above: a refused size leaves the limit held, only with
        // larger blocks.
        curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, static_cast<long>(params_.rateLimiter->GetBlockSize()));
    }
    set(CURLOPT_WRITEFUNCTION, "WRITEFUNCTION", &CurlRequest::OnWrite);
    set(CURLOPT_WRITEDATA, "WRITEDATA", static_cast<void*>(this));
    set(CURLOPT_XFERINFOFUNCTION, "XFERINFOFUNCTION", &CurlRequest::OnProgress);
    set(CURLOPT_XFERINFODATA, "XFERINFODATA", static_cast<void*>(this));
    set(CURLOPT_NOPROGRESS, "NOPROGRESS", 0L);
    // One redirect is followed (a node or cache may move a file once); more is a
    // misconfigured server.
    set(CURLOPT_FOLLOWLOCATION, "FOLLOWLOCATION", 1L);
    set(CURLOPT_MAXREDIRS, "MAXREDIRS", 1L);
    // An error page must never reach the writer (it would land in a file).
    set(CURLOPT_FAILONERROR, "FAILONERROR", 1L);
    // libcurl counts these in milliseconds within an int: a longer limit (the
    // optimizer may compute weeks) is kept as the longest it can count, while a
    // negative one is refused.
    constexpr long kLongestSeconds = std::numeric_limits<int>::max() / 1000;
    set(CURLOPT_CONNECTTIMEOUT, "CONNECTTIMEOUT", std::min<long>(params_.connectTimeout, kLongestSeconds));
    set(CURLOPT_TIMEOUT, "TIMEOUT", std::min<long>(params_.timeout, kLongestSeconds));
    if (params_.lowSpeedLimit > 0 && params_.lowSpeedTime > 0) {
        set(CURLOPT_LOW_SPEED_LIMIT, "LOW_SPEED_LIMIT", static_cast<long>(params_.lowSpeedLimit));
        set(CURLOPT_LOW_SPEED_TIME, "LOW_SPEED_TIME", static_cast<long>(params_.lowSpeedTime));
    }
    proxyUrl_ = std::move(proxy.url);
    status_.proxyConfig = std::move(proxy.config);
    status_.proxyUrl = MaskUserInfo(proxyUrl_);
    status_.url = MaskUrlUserInfo(params_.url);
    // An empty proxy option means "direct" to libcurl; left unset, libcurl would
    // consult the proxy environment variables itself and could overrule the
    // proxy's own choice (a bypassed host, or no proxy at all). For the same
    // reason its own no-proxy list is emptied: NO_PROXY in the environment would
    // otherwise send a request direct while its status names the proxy.
    set(CURLOPT_PROXY, "PROXY", proxyUrl_.c_str());
    set(CURLOPT_NOPROXY, "NOPROXY", "");
    set(CURLOPT_ERRORBUFFER, "ERRORBUFFER", static_cast<char*>(errorBuffer_));
    set(CURLOPT_HTTPHEADER, "HTTPHEADER", headers_);

    if (refused != CURLE_OK) {
        status_.state = refused == CURLE_OUT_OF_MEMORY ? State::OutOfMemory : State::InvalidRequest;
        status_.errorMessage = "libcurl error " + std::to_string(static_cast<int>(refused)) + " (HTTP 0)";
        status_.curlCode = static_cast<std::int32_t>(refused);
        status_.errorDetail = std::string("option ") + refusedName + " refused: " + curl_easy_strerror(refused);
    }
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
    return Evaluate(Drive());
}

CURLcode CurlRequest::Drive() {
    // How long one wait for the network may last. Abort() wakes the wait at once,
    // and libcurl shortens it for its own timers, so this bounds nothing but idle
    // wake-ups.
    constexpr int kWaitMs = 1000;
    const CURLMcode added = curl_multi_add_handle(multi_, handle_);
    if (added != CURLM_OK) {
        return added == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    for (;;) {
        {
            // An abort, or a verdict of the callbacks, ends the exchange here; the
            // handle's removal below closes its connection.
            std::lock_guard lock(mutex_);
            if (status_.state != State::Running) break;
        }
        int running = 0;
        CURLMcode code = curl_multi_perform(multi_, &running);
        if (code == CURLM_OK && running == 0) {
            int queued = 0;
            result = CURLE_FAILED_INIT;
            while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == handle_) result = message->data.result;
            }
            break;
        }
        int waitMs = kWaitMs;
        if (code == CURLM_OK && ResumeWhenDue(waitMs)) continue;
        if (code == CURLM_OK) code = curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
        if (code != CURLM_OK) {
            result = code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
            break;
        }
    }
    curl_multi_remove_handle(multi_, handle_);
    return result;
}

bool CurlRequest::ResumeWhenDue(int& waitMs) {
    std::chrono::steady_clock::time_point resumeAt;
    {
        std::lock_guard lock(mutex_);
        if (!held_) return false;
        resumeAt = resumeAt_;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < resumeAt) {
        // A paused transfer gives the wait nothing to wake it; its time does.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(resumeAt - now).count();
        waitMs = static_cast<int>(std::min<std::int64_t>(left, waitMs));
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    // Offers the kept block to the write callback again, on this thread and
    // outside mutex_, which the callback takes; it may hold the request anew.
    curl_easy_pause(handle_, CURLPAUSE_CONT);
    return true;
}

RequestStatus CurlRequest::Evaluate(CURLcode code) {
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

    // An abort or a writer's verdict already decided the outcome. The status is
    // copied under this same lock: a Reset right after must not be what Perform
    // reports.
    if (status_.state != State::Running) {
        return status_;
    }
    if (code == CURLE_OK) {
        // An answer without a body is judged here; one with a body was judged
        // before its first byte reached the writer.
        if (!responseChecked_) CheckResponse();
        if (status_.state == State::Running && received_ < verdict_.minBody) {
            Fail(State::RangeError, "body ended after " + std::to_string(received_) + " of " +
                                        std::to_string(verdict_.minBody) + " bytes (HTTP " +
                                        std::to_string(status_.responseCode) + ")");
        }
        if (status_.state == State::Running) status_.state = State::Succeeded;
        return status_;
    }
    status_.state = StateForCurlCode(code, status_.responseCode);
    status_.errorMessage = "libcurl error " + std::to_string(static_cast<int>(code)) + " (HTTP " +
                           std::to_string(status_.responseCode) + ")";
    status_.errorDetail = errorBuffer_;
    status_.curlCode = static_cast<std::int32_t>(code);
    return status_;
}

void CurlRequest::CheckResponse() {
    responseChecked_ = true;
    ResponseHeaders headers;
    long responseCode = 0;
    if (curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &responseCode) == CURLE_OK) {
        headers.responseCode = static_cast<std::int32_t>(responseCode);
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(handle_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0) {
        headers.contentLength = static_cast<std::uint64_t>(length);
    }
    // The last request's headers: those of the answer after a redirect.
    curl_header* header = nullptr;
    for (std::size_t index = 0;
         curl_easy_header(handle_, "Content-Range", index, CURLH_HEADER, -1, &header) == CURLHE_OK; ++index) {
        headers.contentRange = headers.contentRange ? *headers.contentRange + ", " + header->value : header->value;
    }
    verdict_ = EvaluateResponseHeaders(params_.rangeFirst, params_.rangeLast, headers);
    if (verdict_.state != State::Succeeded) {
        Fail(verdict_.state, verdict_.message);
    }
}

void CurlRequest::Fail(State state, std::string message) {
    if (status_.state != State::Running) return;
    status_.state = state;
    status_.errorMessage = std::move(message);
}

size_t CurlRequest::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<CurlRequest*>(self);
    const std::size_t total = size * count;
    {
        std::lock_guard lock(request->mutex_);
        if (request->status_.state != State::Running) {
            return 0;
        }
        // A wrong answer to a range (other bytes, the whole resource, none) is
        // refused before any of it reaches the writer: those bytes belong
        // elsewhere in the file.
        if (!request->responseChecked_) {
            request->CheckResponse();
            if (request->status_.state != State::Running) return 0;
        }
        if (total > request->verdict_.maxBody - request->received_) {
            request->Fail(State::RangeError,
                          "body longer than the " + std::to_string(request->verdict_.maxBody) + " bytes announced");
            return 0;
        }
        if (RateLimiter* limiter = request->params_.rateLimiter) {
            const std::chrono::nanoseconds wait = limiter->Take(total);
            if (wait.count() > 0) {
                // libcurl keeps the block and offers it again once resumed.
                request->held_ = true;
                request->resumeAt_ = std::chrono::steady_clock::now() + wait;
                return CURL_WRITEFUNC_PAUSE;
            }
        }
        request->received_ += total;
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
    // A writer can never be credited with more than it was offered.
    const std::uint64_t taken = std::min<std::uint64_t>(result.bytes, total);

    std::lock_guard lock(request->mutex_);
    request->status_.bytes += taken;
    if (result.state != State::Succeeded) {
        const State state = (result.state == State::RangeError || result.state == State::OutOfMemory)
                                ? result.state
                                : State::WriteError;
        request->Fail(state, result.errorMessage);
    }
    return static_cast<size_t>(taken);
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
    {
        std::lock_guard lock(mutex_);
        if (status_.state != State::Ready && status_.state != State::Running) return;
        status_.state = State::Aborted;
    }
    // Ends the performing thread's wait for the network now rather than at its
    // next wake-up. Safe from any thread, and harmless when nothing waits.
    curl_multi_wakeup(multi_);
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
