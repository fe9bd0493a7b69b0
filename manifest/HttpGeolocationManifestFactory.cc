#include "manifest/HttpGeolocationManifestFactory.h"

#include <utility>

namespace vrexa {

HttpGeolocationManifestFactory::HttpGeolocationManifestFactory(std::string url, http::RequestFactory& requestFactory,
                                                               std::int32_t connectTimeout, std::int32_t timeout)
    : url_(std::move(url)), fetch_(requestFactory, connectTimeout, timeout, kGeolocationLimits) {}

std::shared_ptr<GeolocationManifest> HttpGeolocationManifestFactory::GetManifest(
    std::shared_ptr<http::Session> session) {
    return LoadManifest(CreateSource(std::move(session)));
}

}  // namespace vrexa
