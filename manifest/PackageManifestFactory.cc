#include "manifest/PackageManifestFactory.h"

#include "manifest/ManifestException.h"
#include "manifest/ManifestSource.h"
#include "manifest/StandardPackageManifest.h"

namespace vrexa {

std::shared_ptr<PackageManifest> PackageManifestFactory::LoadManifest(const std::shared_ptr<ManifestSource>& source,
                                                                      const std::string& id) {
    auto manifest = std::make_shared<StandardPackageManifest>();
    source->Load(id, *manifest);
    if (!Validate(*manifest, id)) {
        throw ManifestLocatorException();
    }
    return manifest;
}

std::shared_ptr<PackageManifest> PackageManifestFactory::GetManifest(const std::string& id) {
    return LoadManifest(CreateSource(id), id);
}

}  // namespace vrexa
