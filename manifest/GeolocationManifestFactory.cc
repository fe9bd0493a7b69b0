#include "manifest/GeolocationManifestFactory.h"

#include "manifest/ManifestSource.h"
#include "manifest/StandardGeolocationManifest.h"

namespace vrexa {

std::shared_ptr<GeolocationManifest> GeolocationManifestFactory::LoadManifest(
    const std::shared_ptr<ManifestSource>& source) {
    auto manifest = std::make_shared<StandardGeolocationManifest>();
    source->Load("", *manifest);
    return manifest;
}

std::shared_ptr<GeolocationManifest> GeolocationManifestFactory::GetManifest() { return LoadManifest(CreateSource()); }

}  // namespace vrexa
