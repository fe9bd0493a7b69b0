#include "manifest/NodeListManifestFactory.h"

#include "manifest/ManifestSource.h"
#include "manifest/StandardNodeListManifest.h"

namespace vrexa {

std::shared_ptr<NodeListManifest> NodeListManifestFactory::LoadManifest(const std::shared_ptr<ManifestSource>& source,
                                                                        const std::string& id) {
    auto manifest = std::make_shared<StandardNodeListManifest>();
    source->Load(id, *manifest);
    return manifest;
}

std::shared_ptr<NodeListManifest> NodeListManifestFactory::GetManifest(const std::string& id) {
    return LoadManifest(CreateSource(id), id);
}

}  // namespace vrexa
