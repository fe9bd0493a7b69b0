#include "workflow/LazyParallelTransferMultipleChunksWork.h"

#include <algorithm>

#include <boost/property_tree/ptree.hpp>

#include "manifest/FileManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/ChunkBounds.h"
#include "workflow/LogRoutes.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/TransferSingleChunkWork.h"

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
    const std::optional<ChunkBounds> chunk = ChunkAt(*fileManifest_, fileData_->fileSize, nextIndex_);
    if (!chunk) {
        return nullptr;
    }
    return std::make_shared<TransferSingleChunkWork>(transfer_, fileData_, chunk->lower, chunk->upper, chunk->checksum,
                                                     chunk->sha256);
}

void LazyParallelTransferMultipleChunksWork::DropWindows() {
    const std::lock_guard lock(mutex_);
    for (const auto& child : inFlight_) {
        if (const auto chunk = std::dynamic_pointer_cast<TransferSingleChunkWork>(child)) {
            chunk->GetMapData()->TakeWindow();
        }
    }
}

}  // namespace vrexa
