#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/GeolocationManifestFactory.h"

namespace vrexa {

namespace http {
class RequestFactory;
class Session;
}  // namespace http

class HttpManifestSource;

// The client's geolocation from a fixed URL over HTTP. Holds no mutable state.
class HttpGeolocationManifestFactory : public GeolocationManifestFactory {
public:
    HttpGeolocationManifestFactory(std::string url, http::RequestFactory& requestFactory, std::int32_t connectTimeout,
                                   std::int32_t timeout);
    HttpGeolocationManifestFactory(const HttpGeolocationManifestFactory&) = delete;
    HttpGeolocationManifestFactory& operator=(const HttpGeolocationManifestFactory&) = delete;

    using GeolocationManifestFactory::CreateSource;
    using GeolocationManifestFactory::GetManifest;

    // Fetched through session's pooled requests; a null session makes a
    // standalone request.
    virtual std::shared_ptr<GeolocationManifest> GetManifest(std::shared_ptr<http::Session> session);
    // A source the caller can abort while another thread fetches from it.
    virtual std::shared_ptr<HttpManifestSource> CreateSource(std::shared_ptr<http::Session> session) = 0;

protected:
    const std::string& GetUrl() const { return url_; }
    http::RequestFactory& GetRequestFactory() const { return requestFactory_; }
    std::int32_t GetConnectTimeout() const { return connectTimeout_; }
    std::int32_t GetTimeout() const { return timeout_; }

private:
    const std::string url_;
    http::RequestFactory& requestFactory_;
    const std::int32_t connectTimeout_;
    const std::int32_t timeout_;
};

}  // namespace vrexa
