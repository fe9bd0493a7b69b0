#include "manifest/HttpManifestSource.h"

#include <algorithm>
#include <climits>
#include <new>
#include <sstream>
#include <utility>

#include "http/Request.h"
#include "http/RequestFactory.h"
#include "http/RequestParams.h"
#include "http/StringstreamWriter.h"
#include "manifest/HttpManifestException.h"
#include "manifest/ManifestException.h"
#include "manifest/ManifestTrust.h"
#include "manifest/Minisign.h"

namespace vrexa {

namespace {

// Passes the body on until it would exceed the cap, then refuses it, which
// ends the exchange as a write failure and marks the writer exceeded.
class CappedWriter : public http::WriteCallback {
public:
    CappedWriter(http::WriteCallback& next, std::uint64_t maxBytes) : next_(next), maxBytes_(maxBytes) {}

    http::RequestStatus Write(const char* data, std::size_t size) override {
        if (size > maxBytes_ - taken_) {
            exceeded_ = true;
            http::RequestStatus refused;
            refused.state = http::State::WriteError;
            refused.errorMessage = "document larger than " + std::to_string(maxBytes_) + " bytes";
            return refused;
        }
        http::RequestStatus result = next_.Write(data, size);
        taken_ += result.bytes;
        return result;
    }

    bool Exceeded() const { return exceeded_; }

private:
    http::WriteCallback& next_;
    const std::uint64_t maxBytes_;
    std::uint64_t taken_ = 0;
    bool exceeded_ = false;
};

}  // namespace

HttpManifestSource::HttpManifestSource(std::string url, http::RequestFactory& requestFactory,
                                       std::shared_ptr<http::Session> session, std::int32_t connectTimeout,
                                       std::int32_t timeout, DocumentLimits limits)
    : url_(std::move(url)),
      requestFactory_(requestFactory),
      session_(std::move(session)),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      limits_(limits) {}

void HttpManifestSource::Bound(std::chrono::steady_clock::time_point deadline, std::int32_t lowSpeedLimit,
                               std::int32_t lowSpeedTime) {
    deadline_ = deadline;
    lowSpeedLimit_ = lowSpeedLimit;
    lowSpeedTime_ = lowSpeedTime;
}

void HttpManifestSource::Fetch(const std::string&, std::iostream& stream) {
    if (!signatureCheck_) {
        FetchUrl(url_, stream, limits_.maxBytes);
        return;
    }
    // A publisher replaces a document and then its signature; a client that
    // fetched between the two sees them disagree, so a refusal is checked
    // once more on a fresh pair before it stands.
    for (int attempt = 0;; ++attempt) {
        std::stringstream document;
        FetchUrl(url_, document, limits_.maxBytes);
        std::stringstream signature;
        const std::string signatureUrl = url_ + ".minisig";
        try {
            FetchUrl(signatureUrl, signature, kMaxMinisignFileBytes);
        } catch (const HttpManifestLocatorException& missing) {
            const std::int32_t code = missing.GetStatus().responseCode;
            if (code >= 200 && code < 300) {
                throw ManifestSignatureException("the signature at " + signatureUrl + " is larger than " +
                                                 std::to_string(kMaxMinisignFileBytes) + " bytes");
            }
            throw ManifestSignatureException("no signature at " + signatureUrl +
                                             (code != 0 ? " (HTTP " + std::to_string(code) + ")" : std::string()));
        }
        const std::string text = document.str();
        try {
            signatureCheck_(text, signature.str());
        } catch (const ManifestSignatureException&) {
            if (attempt == 0) continue;
            throw;
        }
        stream.write(text.data(), static_cast<std::streamsize>(text.size()));
        return;
    }
}

void HttpManifestSource::FetchUrl(const std::string& url, std::iostream& stream, std::uint64_t maxBytes) {
    http::StringstreamWriter streamWriter(&stream);
    CappedWriter writer(streamWriter, maxBytes);
    http::RequestParams params(url, &writer);
    params.connectTimeout = connectTimeout_;
    params.timeout = timeout_;
    params.lowSpeedLimit = lowSpeedLimit_;
    params.lowSpeedTime = lowSpeedTime_;
    if (deadline_) {
        // Whole seconds, rounded up: what is left may not be cut to nothing.
        const auto left = std::chrono::ceil<std::chrono::seconds>(*deadline_ - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            http::RequestStatus spent;
            spent.state = http::State::Timeout;
            spent.errorMessage = "time for the document spent";
            spent.url = url;
            throw HttpManifestStreamException(spent);
        }
        const auto seconds = static_cast<std::int32_t>(std::min<std::int64_t>(left.count(), INT32_MAX));
        params.timeout = params.timeout > 0 ? std::min(params.timeout, seconds) : seconds;
        if (params.connectTimeout <= 0 || params.connectTimeout > seconds) params.connectTimeout = seconds;
    }

    {
        std::lock_guard lock(mutex_);
        if (std::exchange(abortPending_, false)) {
            throw ManifestAbortedException();
        }
    }
    std::shared_ptr<http::Request> request = requestFactory_.CreateRequest(params, session_);
    {
        // An abort may have come while the request was being made.
        std::lock_guard lock(mutex_);
        if (std::exchange(abortPending_, false)) {
            throw ManifestAbortedException();
        }
        request_ = request;
    }
    struct Clear {
        HttpManifestSource& source;
        ~Clear() {
            std::lock_guard lock(source.mutex_);
            source.request_.reset();
        }
    } clear{*this};

    const http::RequestStatus status = request->Perform();
    if (status.responseCode != 0 || status.bytes > 0) heardFrom_ = true;
    // A document larger than any we take is refused like a missing one: the
    // same answer would come again, and every retry would read the whole cap.
    if (status.state == http::State::WriteError && writer.Exceeded()) {
        throw HttpManifestLocatorException(status);
    }
    switch (status.state) {
        case http::State::Aborted:
            throw ManifestAbortedException();
        case http::State::Succeeded:
            if (stream.fail()) {
                throw HttpManifestStreamException(status);
            }
            return;
        case http::State::OutOfMemory:
            throw std::bad_alloc();
        case http::State::InvalidRequest:
        case http::State::ClientError:
            throw HttpManifestLocatorException(status);
        default:
            throw HttpManifestStreamException(status);
    }
}

void HttpManifestSource::Abort() {
    std::lock_guard lock(mutex_);
    if (request_) {
        request_->Abort();
    } else {
        abortPending_ = true;
    }
}

}  // namespace vrexa
