#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/HttpManifestSource.h"
#include "manifest/GeolocationManifestFactory.h"

namespace vrexa {

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
    const HttpFetchSettings& GetFetch() const { return fetch_; }

private:
    const std::string url_;
    const HttpFetchSettings fetch_;
};

}  // namespace vrexa
