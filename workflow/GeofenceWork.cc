#include "workflow/GeofenceWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/GeolocationManifest.h"
#include "manifest/PackageManifest.h"
#include "transfer/TransferStatusData.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/LogRoutes.h"

namespace vrexa {

GeofenceWork::GeofenceWork(std::shared_ptr<TransferWorkInterface> transfer) : TransferWork(std::move(transfer)) {
    AddLogCompleteRoute(*this, GetTransfer()->GetBehavior(), true);
}

void GeofenceWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "GeofenceWork");
    DescribeTransfer(tree, false);
}

WorkStatus GeofenceWork::ExecuteTask() {
    const std::shared_ptr<PackageManifest> package = GetTransfer()->GetPackage();
    const std::shared_ptr<GeolocationManifest> geolocation = GetTransfer()->GetGeolocation();
    if (!package || !geolocation) {
        return WorkStatus(
            WorkResult::FatalError,
            std::make_shared<TransferErrorData>(TransferError::Unknown,
                                                "GeofenceWork::ExecuteTask called without package or geolocation"));
    }
    const std::string& country = geolocation->GetCountryCode();
    if (package->IsCountryAllowed(country)) {
        return WorkStatus(WorkResult::Success, nullptr);
    }
    return WorkStatus(WorkResult::FatalError,
                      std::make_shared<TransferErrorData>(TransferError::GeofenceBlocked, "Geofence|" + country));
}

}  // namespace vrexa
