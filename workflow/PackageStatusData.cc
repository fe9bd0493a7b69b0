#include "workflow/PackageStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/PackageManifest.h"

namespace vrexa {

void PackageStatusData::Describe(boost::property_tree::ptree& tree) const {
    if (!package_) {
        tree.put("package", "null");
        return;
    }
    tree.put("packageId", package_->GetId());
    tree.put("partnerId", package_->GetPartnerId());
    tree.put("versionId", package_->GetVersionId());
}

}  // namespace vrexa
