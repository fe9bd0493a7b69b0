#include "manifest/HttpGeolocationManifestFactory.h"

#include <utility>

#include "manifest/HttpManifestSource.h"

namespace vrexa {

HttpGeolocationManifestFactory::HttpGeolocationManifestFactory(std::string url, http::RequestFactory& requestFactory,
                                                               std::int32_t connectTimeout, std::int32_t timeout)
    : url_(std::move(url)), requestFactory_(requestFactory), connectTimeout_(connectTimeout), timeout_(timeout) {}

std::shared_ptr<GeolocationManifest> HttpGeolocationManifestFactory::GetManifest(
    std::shared_ptr<http::Session> session) {
    return LoadManifest(CreateSource(std::move(session)));
}

}  // namespace vrexa
