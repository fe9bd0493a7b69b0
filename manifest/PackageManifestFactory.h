#pragma once

#include <memory>
#include <string>

namespace vrexa {

class ManifestSource;
class PackageManifest;

// Where package manifests come from. id is a package id alone (its current
// version) or a package id, "/" and a version id (a fixed version).
class PackageManifestFactory {
public:
    virtual ~PackageManifestFactory() = default;

    virtual std::shared_ptr<ManifestSource> CreateSource(const std::string& id) = 0;
    // Loads a manifest from source; one that Validate refuses for id is a
    // ManifestLocatorException. Other failures pass through.
    virtual std::shared_ptr<PackageManifest> LoadManifest(const std::shared_ptr<ManifestSource>& source,
                                                          const std::string& id);
    // LoadManifest(CreateSource(id), id).
    virtual std::shared_ptr<PackageManifest> GetManifest(const std::string& id);
    // Whether manifest is the one id asked for.
    virtual bool Validate(const PackageManifest& manifest, const std::string& id) = 0;
};

}  // namespace vrexa
