#pragma once

#include "manifest/HttpGeolocationManifestFactory.h"

namespace vrexa {

// The geolocation as a JSON document at the configured URL, taken as is.
class JsonHttpGeolocationManifestFactory : public HttpGeolocationManifestFactory {
public:
    using HttpGeolocationManifestFactory::HttpGeolocationManifestFactory;

    std::shared_ptr<ManifestSource> CreateSource() override;
    std::shared_ptr<HttpManifestSource> CreateSource(std::shared_ptr<http::Session> session) override;
};

}  // namespace vrexa
