#include "workflow/LazyParallelVerifyMultipleFilesWork.h"

#include <algorithm>
#include <stdexcept>

#include <boost/property_tree/ptree.hpp>

#include "manifest/PackageManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/LogRoutes.h"
#include "workflow/VerifySingleFileWork.h"

namespace vrexa {

namespace {

std::shared_ptr<PackageManifest> PackageWithFiles(TransferWorkInterface& transfer) {
    std::shared_ptr<PackageManifest> package = transfer.GetPackage();
    if (!package || package->GetFiles().empty()) {
        throw std::logic_error("LazyParallelVerifyMultipleFilesWork constructed with empty package");
    }
    return package;
}

}  // namespace

LazyParallelVerifyMultipleFilesWork::LazyParallelVerifyMultipleFilesWork(
    std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(transfer),
      LazyParallelWork(static_cast<unsigned>(std::max(1, transfer->GetBehavior().parallelItems))),
      package_(PackageWithFiles(*transfer)) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), true);
}

void LazyParallelVerifyMultipleFilesWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "LazyParallelVerifyMultipleFilesWork");
    DescribeTransfer(tree, true);
}

std::shared_ptr<Work> LazyParallelVerifyMultipleFilesWork::CreateNextChild() {
    const PackageManifest::Files& files = package_->GetFiles();
    if (nextIndex_ >= files.size()) {
        return nullptr;
    }
    return std::make_shared<VerifySingleFileWork>(transfer_, files[nextIndex_]);
}

}  // namespace vrexa
