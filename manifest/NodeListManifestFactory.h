#pragma once

#include <memory>
#include <string>

namespace vrexa {

class ManifestSource;
class NodeListManifest;

// Where node lists come from; id is the partner id.
class NodeListManifestFactory {
public:
    virtual ~NodeListManifestFactory() = default;

    virtual std::shared_ptr<ManifestSource> CreateSource(const std::string& id) = 0;
    virtual std::shared_ptr<NodeListManifest> LoadManifest(const std::shared_ptr<ManifestSource>& source,
                                                           const std::string& id);
    // LoadManifest(CreateSource(id), id).
    virtual std::shared_ptr<NodeListManifest> GetManifest(const std::string& id);
};

}  // namespace vrexa
