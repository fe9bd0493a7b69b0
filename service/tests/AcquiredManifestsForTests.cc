// The state machine's tests hand over manifests in their own status data
// until the initialization works' kinds are linked in.
#include "service/AcquiredManifests.h"
#include "service/tests/ServiceTestSupport.h"

namespace vrexa {

std::shared_ptr<PackageManifest> AcquiredPackage(const WorkStatusData* data) {
    auto* package = dynamic_cast<const testing::TestPackageData*>(data);
    return package != nullptr ? package->package : nullptr;
}

std::shared_ptr<NodeListManifest> AcquiredNodeList(const WorkStatusData* data) {
    auto* nodeList = dynamic_cast<const testing::TestNodeListData*>(data);
    return nodeList != nullptr ? nodeList->nodeList : nullptr;
}

std::shared_ptr<GeolocationManifest> AcquiredGeolocation(const WorkStatusData* data) {
    auto* geolocation = dynamic_cast<const testing::TestGeolocationData*>(data);
    return geolocation != nullptr ? geolocation->geolocation : nullptr;
}

}  // namespace vrexa
