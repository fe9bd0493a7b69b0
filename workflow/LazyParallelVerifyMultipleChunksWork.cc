#include "workflow/LazyParallelVerifyMultipleChunksWork.h"

#include <algorithm>

#include <boost/property_tree/ptree.hpp>

#include "manifest/FileManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/LogRoutes.h"
#include "workflow/MapAndVerifyChunkWork.h"
#include "workflow/TransferSharedFileData.h"

namespace vrexa {

LazyParallelVerifyMultipleChunksWork::LazyParallelVerifyMultipleChunksWork(
    std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<FileManifest> fileManifest,
    std::shared_ptr<TransferSharedFileData> fileData)
    : TransferWork(std::move(transfer)),
      LazyParallelWork(static_cast<unsigned>(std::max(GetTransfer()->GetBehavior().parallelItems, 1))),
      fileManifest_(std::move(fileManifest)),
      fileData_(std::move(fileData)),
      chunkCount_(fileManifest_->GetChunkCount()) {
    AddLogCompleteRoute(*this, GetTransfer()->GetBehavior(), false);
}

void LazyParallelVerifyMultipleChunksWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "LazyParallelVerifyMultipleChunksWork");
    DescribeTransfer(tree, true);
    fileData_->Describe(tree);
}

std::shared_ptr<Work> LazyParallelVerifyMultipleChunksWork::CreateNextChild() {
    if (next_ >= chunkCount_) {
        return nullptr;
    }
    const std::uint64_t chunkSize = fileManifest_->GetChunkSize();
    const std::uint64_t lower = next_ * chunkSize;
    const std::uint64_t upper = lower + std::min(chunkSize, fileManifest_->GetSize() - lower) - 1;
    const std::uint32_t expected = fileManifest_->GetChecksums()[next_];
    ++next_;
    return std::make_shared<MapAndVerifyChunkWork>(GetTransfer(), fileData_, lower, upper, expected);
}

void LazyParallelVerifyMultipleChunksWork::Reset() {
    std::lock_guard lock(mutex);
    LazyParallelWork::Reset();
    next_ = 0;
}

}  // namespace vrexa
