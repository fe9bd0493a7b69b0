#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "http/Request.h"
#include "http/ResponseEvaluation.h"
#include "http/TlsSettings.h"

namespace vrexa::http {

// The state for a failed libcurl result code; responseCode separates a refused
// resource into ClientError (below 500, including none) and ServerError, and
// tells a peer's oversized answer (libcurl reports it as out of memory once a
// response has begun) from memory really running out.
State StateForCurlCode(int code, std::int32_t responseCode);

// A libcurl time (seconds; queryOk false when the query failed) in milliseconds,
// capped at what the request's two timeouts allow: a time can never exceed the
// limits that ended the exchange, so timings stay comparable between requests.
std::uint32_t CappedMilliseconds(bool queryOk, double seconds, std::int32_t connectTimeout, std::int32_t timeout);

// A request on one libcurl easy handle, owned for the object's whole life and
// kept across resets so its connections, name cache and TLS state are reused.
// Abort() stops an exchange in any phase (resolving, connecting, waiting for the
// answer, receiving) without waiting for the network.
class CurlRequest : public Request {
public:
    // Throws std::runtime_error "libcurl could not be initialized" when the
    // process-wide initialisation failed, "curl_easy_init failed" when no handle
    // can be made, and whatever the proxy throws while the request is armed.
    CurlRequest(const RequestParams& params, std::shared_ptr<Proxy> proxy, TlsSettings tls = {});
    ~CurlRequest() override;

    RequestStatus Perform() override;
    RequestStatus GetStatus() override;
    void Abort() override;
    bool Reset(const RequestParams& params, std::shared_ptr<Proxy> proxy) override;

private:
    static constexpr std::size_t kErrorBufferSize = 256;

    struct ProxyChoice {
        std::string config;
        std::string url;  // empty: direct
    };
    // Asks the proxy (null: direct) how it is configured and what to use for url.
    static ProxyChoice DescribeProxy(const Proxy* proxy, const std::string& url);
    // Sets every option of the handle from params_ and the proxy's answers, in one
    // order. An option libcurl refuses ends the request before it is performed.
    // Caller holds mutex_ (or is the constructor).
    void Arm(ProxyChoice proxy);
    // Runs the exchange on the multi handle until it ends or is aborted.
    CURLcode Drive();
    // While the rate limiter holds the request, cuts waitMs to the time left;
    // once that time has come, resumes receiving and returns true.
    bool ResumeWhenDue(int& waitMs);
    // Records the outcome and returns it, in one step under mutex_.
    RequestStatus Evaluate(CURLcode code);
    // Judges the final response's headers against the range asked for. Caller holds mutex_.
    void CheckResponse();
    // Sets a final state with its message, unless one is set already. Caller holds mutex_.
    void Fail(State state, std::string message);

    static size_t OnWrite(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    // Kept across resets: whom this request trusts does not change with its URL.
    const TlsSettings tls_;
    CURL* handle_ = nullptr;
    // Drives handle_ so that Abort can wake the wait for the network at once; it
    // also holds the connection cache that survives resets.
    CURLM* multi_ = nullptr;
    std::mutex mutex_;
    bool performing_ = false;
    // Set when the response headers of an exchange have been judged.
    bool responseChecked_ = false;
    ResponseVerdict verdict_;
    // Body bytes handed on from libcurl in this exchange.
    std::uint64_t received_ = 0;
    // Set when the rate limiter held back a block: libcurl keeps it and stops
    // reading until resumeAt_, when the driving loop lets it go on.
    bool held_ = false;
    std::chrono::steady_clock::time_point resumeAt_;
    RequestStatus status_;
    // The proxy as libcurl needs it; status_.proxyUrl shows it without credentials.
    std::string proxyUrl_;
    curl_slist* headers_ = nullptr;
    char errorBuffer_[kErrorBufferSize] = {};
};

}  // namespace vrexa::http
