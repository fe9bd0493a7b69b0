#include "workflow/LazyParallelVerifyMultipleChunksWork.h"

#include <algorithm>

#include <boost/property_tree/ptree.hpp>

#include "manifest/FileManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/ChunkBounds.h"
#include "workflow/LogRoutes.h"
#include "workflow/MapAndVerifyChunkWork.h"
#include "workflow/TransferSharedFileData.h"

namespace vrexa {

LazyParallelVerifyMultipleChunksWork::LazyParallelVerifyMultipleChunksWork(
    std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<const FileManifest> fileManifest,
    std::shared_ptr<TransferSharedFileData> fileData)
    : TransferWork(transfer),
      LazyParallelWork(static_cast<unsigned>(std::max(1, transfer->GetBehavior().parallelItems))),
      fileManifest_(std::move(fileManifest)),
      fileData_(std::move(fileData)) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
}

void LazyParallelVerifyMultipleChunksWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "LazyParallelVerifyMultipleChunksWork");
    DescribeTransfer(tree, true);
    fileData_->Describe(tree);
}

std::shared_ptr<Work> LazyParallelVerifyMultipleChunksWork::CreateNextChild() {
    const std::optional<ChunkBounds> chunk = ChunkAt(*fileManifest_, fileData_->fileSize, nextIndex_);
    if (!chunk) {
        return nullptr;
    }
    return std::make_shared<MapAndVerifyChunkWork>(transfer_, fileData_, chunk->lower, chunk->upper, chunk->checksum,
                                                   chunk->sha256);
}

}  // namespace vrexa
