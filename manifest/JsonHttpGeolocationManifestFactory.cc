#include "manifest/JsonHttpGeolocationManifestFactory.h"

#include <utility>

#include "manifest/JsonHttpManifestSource.h"

namespace vrexa {

std::shared_ptr<ManifestSource> JsonHttpGeolocationManifestFactory::CreateSource() { return CreateSource(nullptr); }

std::shared_ptr<HttpManifestSource> JsonHttpGeolocationManifestFactory::CreateSource(
    std::shared_ptr<http::Session> session) {
    return GetFetch().MakeSource<JsonHttpManifestSource>(GetUrl(), std::move(session));
}

}  // namespace vrexa
