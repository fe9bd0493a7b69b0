#pragma once

#include <memory>

namespace vrexa {

class GeolocationManifest;
class NodeListManifest;
class PackageManifest;
class WorkStatusData;

// The manifest an initialization work hands over with its success, or null
// when the data is not of that work's kind or carries no manifest.
std::shared_ptr<PackageManifest> AcquiredPackage(const WorkStatusData* data);
std::shared_ptr<NodeListManifest> AcquiredNodeList(const WorkStatusData* data);
std::shared_ptr<GeolocationManifest> AcquiredGeolocation(const WorkStatusData* data);

}  // namespace vrexa
