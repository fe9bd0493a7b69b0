#include "workflow/GetPackageManifestWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/HttpPackageManifestFactory.h"
#include "manifest/HttpManifestSource.h"
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
        std::shared_ptr<ManifestSource> source;
        if (auto* http = dynamic_cast<HttpPackageManifestFactory*>(&factory)) {
            source = http->CreateSource(id, GetTransfer()->GetSession());
        } else {
            source = factory.CreateSource(id);
        }
        std::shared_ptr<PackageManifest> package;
        {
            CurrentSource current(*this, source);
            package = factory.LoadManifest(source, id);
        }
        if (!package->IsActive()) {
            return WorkStatus(WorkResult::FatalError,
                              std::make_shared<TransferErrorData>(
                                  TransferError::RequestRejected,
                                  "GetPackageManifestWork::ExecuteTask acquired a disabled manifest"));
        }
        return WorkStatus(WorkResult::Success, std::make_shared<PackageStatusData>(std::move(package)));
    } catch (...) {
        return FetchFailure(std::current_exception());
    }
}

}  // namespace vrexa
