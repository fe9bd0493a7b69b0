#pragma once

#include <memory>
#include <string>

#include "workflow/ManifestFetchWork.h"

namespace vrexa {

// Fetches the package manifest of the transfer's package: the version asked
// for, or the current one when none was given ("?").
class GetPackageManifestWork : public ManifestFetchWork {
public:
    explicit GetPackageManifestWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;

    // The manifest id for a package and a version ("?" or empty: the
    // current version): "P" or "P/V".
    static std::string ManifestId(const std::string& packageId, const std::string& versionId);
};

}  // namespace vrexa
