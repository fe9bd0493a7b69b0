#pragma once

#include <memory>

namespace vrexa {

class ManifestSource;
class GeolocationManifest;

// Where the client's geolocation comes from; the source needs no id.
class GeolocationManifestFactory {
public:
    virtual ~GeolocationManifestFactory() = default;

    virtual std::shared_ptr<ManifestSource> CreateSource() = 0;
    virtual std::shared_ptr<GeolocationManifest> LoadManifest(const std::shared_ptr<ManifestSource>& source);
    // LoadManifest(CreateSource()).
    virtual std::shared_ptr<GeolocationManifest> GetManifest();
};

}  // namespace vrexa
