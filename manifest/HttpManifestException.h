#pragma once

#include <utility>

#include "http/RequestStatus.h"
#include "manifest/ManifestException.h"

namespace vrexa {

// A failed HTTP fetch of a manifest, with the request's final status so that
// the caller can report the response code, times, proxy and error text.
class HttpManifestException : public virtual ManifestException {
public:
    explicit HttpManifestException(http::RequestStatus status) : status_(std::move(status)) {}

    const http::RequestStatus& GetStatus() const { return status_; }

private:
    http::RequestStatus status_;
};

// The server cannot give the resource (bad request, a response code below 500).
class HttpManifestLocatorException : public HttpManifestException, public ManifestLocatorException {
public:
    explicit HttpManifestLocatorException(http::RequestStatus status) : HttpManifestException(std::move(status)) {}
};

// Any other failed fetch: network, server error, timeout, a broken stream.
class HttpManifestStreamException : public HttpManifestException, public ManifestStreamException {
public:
    explicit HttpManifestStreamException(http::RequestStatus status) : HttpManifestException(std::move(status)) {}
};

}  // namespace vrexa
