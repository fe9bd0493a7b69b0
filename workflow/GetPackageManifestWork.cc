#include "workflow/GetPackageManifestWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/HttpPackageManifestFactory.h"
#include "manifest/HttpManifestSource.h"
#include "manifest/ManifestTrust.h"
#include "manifest/PackageManifest.h"
#include "transfer/TransferStatusData.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/PackageStatusData.h"

namespace vrexa {

GetPackageManifestWork::GetPackageManifestWork(std::shared_ptr<TransferWorkInterface> transfer)
    : ManifestFetchWork(transfer, transfer->GetBehavior().manifestRetryLimit, transfer->GetPackageAcquireCallback()) {}

void GetPackageManifestWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "GetPackageManifestWork");
    DescribeTransfer(tree, false);
}

namespace {

// The version asked for; empty for the current one ("?" or nothing given).
std::string FixedVersion(const std::string& versionId) { return versionId == "?" ? std::string() : versionId; }

}  // namespace

std::string GetPackageManifestWork::ManifestId(const std::string& packageId, const std::string& versionId) {
    const std::string version = FixedVersion(versionId);
    return version.empty() ? packageId : packageId + "/" + version;
}

WorkStatus GetPackageManifestWork::ExecuteTask() {
    try {
        const TransferParams params = GetTransfer()->GetParams();
        const std::string id = ManifestId(params.packageId, params.versionId);
        PackageManifestFactory& factory = *GetTransfer()->GetBehavior().packageManifestFactory;
        const std::shared_ptr<ManifestSource> source = SourceFrom<HttpPackageManifestFactory>(factory, id);
        std::optional<TrustedComment> signedBy;
        RequireSignature(source, "package", params.packageId, signedBy);
        const std::shared_ptr<PackageManifest> package =
            LoadCurrent(source, [&](const auto& current) { return factory.LoadManifest(current, id); });
        if (signedBy) {
            ManifestTrust::CheckVersion(*signedBy, package->GetVersionId());
            ManifestTrust::CheckStrongHashes(*package);
            GetTransfer()->GetBehavior().manifestTrust->Accept("package", params.packageId, *signedBy);
        }
        if (!package->IsActive()) {
            return WorkStatus(WorkResult::FatalError,
                              std::make_shared<TransferErrorData>(
                                  TransferError::RequestRejected,
                                  "GetPackageManifestWork::ExecuteTask acquired a disabled manifest"));
        }
        return WorkStatus(WorkResult::Success, std::make_shared<PackageStatusData>(package));
    } catch (...) {
        return FetchFailure(std::current_exception());
    }
}

}  // namespace vrexa
