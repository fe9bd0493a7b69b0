#include "workflow/LazyParallelTransferMultipleChunksWork.h"

#include <algorithm>

#include <boost/property_tree/ptree.hpp>

#include "manifest/FileManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/TransferSingleChunkWork.h"
#include "workflow/LogRoutes.h"
#include "workflow/WorkSupport.h"

namespace vrexa {
namespace {

unsigned Capacity(TransferWorkInterface& transfer) {
    return static_cast<unsigned>(std::max(1, transfer.GetBehavior().parallelItems));
}

}  // namespace

LazyParallelTransferMultipleChunksWork::LazyParallelTransferMultipleChunksWork(
    std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedFileData> fileData,
    std::shared_ptr<const FileManifest> fileManifest)
    : TransferWork(transfer),
      LazyParallelWork(Capacity(*transfer)),
      fileData_(std::move(fileData)),
      fileManifest_(std::move(fileManifest)) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
}

void LazyParallelTransferMultipleChunksWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "LazyParallelTransferMultipleChunksWork");
    DescribeTransfer(tree, true);
    fileData_->Describe(tree);
}

std::shared_ptr<Work> LazyParallelTransferMultipleChunksWork::CreateNextChild() {
    const std::uint64_t size = fileData_->fileSize;
    const std::uint64_t chunkSize = fileManifest_->GetChunkSize();
    const auto& checksums = fileManifest_->GetChecksums();
    if (chunkSize == 0 || nextIndex >= checksums.size()) {
        return nullptr;
    }
    const std::uint64_t lower = static_cast<std::uint64_t>(nextIndex) * chunkSize;
    if (lower >= size) {
        return nullptr;
    }
    const std::uint64_t upper = std::min(lower + chunkSize - 1, size - 1);
    return std::make_shared<TransferSingleChunkWork>(transfer, fileData_, lower, upper, checksums[nextIndex]);
}

void LazyParallelTransferMultipleChunksWork::DropWindows() {
    const std::lock_guard lock(mutex);
    for (const auto& child : inFlight) {
        if (const auto chunk = std::dynamic_pointer_cast<TransferSingleChunkWork>(child)) {
            chunk->GetMapData()->TakeWindow();
        }
    }
}

}  // namespace vrexa
