#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <utility>

#include "manifest/DocumentLimits.h"
#include "manifest/ManifestSource.h"

namespace vrexa {

namespace http {
class Request;
class RequestFactory;
class Session;
}  // namespace http

// A document at a fixed URL, fetched with one GET per Fetch. Parse is left to
// the document format.
//
// Outcome of a fetch, by the request's final state:
//   Aborted                          -> ManifestAbortedException
//   Succeeded, stream intact         -> the stream holds the document
//   Succeeded, stream failed         -> HttpManifestStreamException
//   OutOfMemory                      -> std::bad_alloc
//   InvalidRequest, ClientError      -> HttpManifestLocatorException
//   anything else                    -> HttpManifestStreamException
// A body longer than limits.maxBytes is cut off as the writer's failure, so it
// ends as a stream failure without ever being held whole.
//
// Abort may come from any thread. It stops the running fetch; when none is
// running it is remembered and the next Fetch ends aborted without a request,
// so an abort that arrives while a work is still preparing its fetch is never
// lost.
class HttpManifestSource : public ManifestSource {
public:
    HttpManifestSource(std::string url, http::RequestFactory& requestFactory, std::shared_ptr<http::Session> session,
                       std::int32_t connectTimeout, std::int32_t timeout, DocumentLimits limits);
    HttpManifestSource(const HttpManifestSource&) = delete;
    HttpManifestSource& operator=(const HttpManifestSource&) = delete;

    // Receives a fetched document and its signature file; throws to refuse
    // the document.
    using SignatureCheck = std::function<void(const std::string& document, const std::string& signature)>;
    // Limits every later fetch beyond the source's own timeouts: it ends by
    // deadline at the latest (a deadline already passed fails it at once,
    // without a request), and as a timeout once the body comes slower than
    // lowSpeedLimit bytes a second for lowSpeedTime seconds (either 0: no floor).
    void Bound(std::chrono::steady_clock::time_point deadline, std::int32_t lowSpeedLimit, std::int32_t lowSpeedTime);

    // id is ignored: the URL is fixed.
    void Fetch(const std::string& id, std::iostream& stream) override;
    void Abort();

    // From now on every Fetch also fetches the signature file at the URL +
    // ".minisig" (the same time limits, a signature's size limit) and hands
    // both to check before the document reaches the stream, so that nothing
    // parses a document whose signature does not hold. A signature the server
    // does not have is a ManifestSignatureException; one that fails in
    // transit fails the fetch like the document would.
    void RequireSignature(SignatureCheck check) { signatureCheck_ = std::move(check); }

    const std::string& GetUrl() const { return url_; }
    // True once the server has answered anything (a status line, a byte of
    // a body) to a fetch of this source.
    bool HeardFrom() const { return heardFrom_.load(); }

protected:
    const DocumentLimits& GetLimits() const { return limits_; }

private:
    // One GET of url into stream, capped at maxBytes, ending as Fetch
    // describes.
    void FetchUrl(const std::string& url, std::iostream& stream, std::uint64_t maxBytes);

    const std::string url_;
    http::RequestFactory& requestFactory_;
    const std::shared_ptr<http::Session> session_;
    const std::int32_t connectTimeout_;
    const std::int32_t timeout_;
    const DocumentLimits limits_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::int32_t lowSpeedLimit_ = 0;
    std::int32_t lowSpeedTime_ = 0;

    std::atomic<bool> heardFrom_{false};

    std::mutex mutex_;  // guards the two below
    std::shared_ptr<http::Request> request_;
    bool abortPending_ = false;

    SignatureCheck signatureCheck_;
};

// How the sources of one factory fetch: the same request factory, time limits
// (seconds) and document limits for every source it makes.
class HttpFetchSettings {
public:
    HttpFetchSettings(http::RequestFactory& requestFactory, std::int32_t connectTimeout, std::int32_t timeout,
                      DocumentLimits limits)
        : requestFactory_(requestFactory), connectTimeout_(connectTimeout), timeout_(timeout), limits_(limits) {}

    // A source of type S (an HttpManifestSource) for url over session.
    template <typename S>
    std::shared_ptr<HttpManifestSource> MakeSource(std::string url, std::shared_ptr<http::Session> session) const {
        return std::make_shared<S>(std::move(url), requestFactory_, std::move(session), connectTimeout_, timeout_,
                                   limits_);
    }

private:
    http::RequestFactory& requestFactory_;
    const std::int32_t connectTimeout_;
    const std::int32_t timeout_;
    const DocumentLimits limits_;
};

}  // namespace vrexa
