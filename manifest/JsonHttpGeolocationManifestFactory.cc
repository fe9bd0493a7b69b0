#include "manifest/JsonHttpGeolocationManifestFactory.h"

#include <utility>

#include "manifest/DocumentLimits.h"
#include "manifest/JsonHttpManifestSource.h"

namespace vrexa {

std::shared_ptr<ManifestSource> JsonHttpGeolocationManifestFactory::CreateSource() { return CreateSource(nullptr); }

std::shared_ptr<HttpManifestSource> JsonHttpGeolocationManifestFactory::CreateSource(
    std::shared_ptr<http::Session> session) {
    return std::make_shared<JsonHttpManifestSource>(GetUrl(), GetRequestFactory(), std::move(session),
                                                    GetConnectTimeout(), GetTimeout(), kGeolocationLimits);
}

}  // namespace vrexa
