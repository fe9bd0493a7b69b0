#pragma once

#include <memory>

#include "transfer/TransferStatusData.h"

namespace vrexa {

class PackageManifest;

// The package manifest a fetch acquired, handed to the transfer with the
// fetch's success.
class PackageStatusData : public TransferStatusData {
public:
    explicit PackageStatusData(std::shared_ptr<PackageManifest> package) : package_(std::move(package)) {}

    // Success data: no error of its own.
    TransferError ToTransferError() const override { return TransferError::None; }
    // "packageId", "partnerId", "versionId"; only "package" = "null" without a manifest.
    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<PackageManifest>& GetPackage() const { return package_; }

private:
    std::shared_ptr<PackageManifest> package_;
};

}  // namespace vrexa
