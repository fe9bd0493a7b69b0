#include "optimizer/OptimizedRequestParams.h"

#include "optimizer/ChunkUrl.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace vrexa {

OptimizedRequestParams::OptimizedRequestParams(std::shared_ptr<NodeListManifest> nodeList,
                                               TransferParams transferParams, std::shared_ptr<ChunkRange> chunkData)
    : nodeList(std::move(nodeList)), transferParams(std::move(transferParams)), ChunkData(std::move(chunkData)) {
    if (this->nodeList) {
        candidates = this->nodeList->GetNodes();
    }
}

void OptimizedRequestParams::RemoveSelectedNode() {
    std::erase(candidates, SelectedNode);
    if (candidates.empty() && nodeList) {
        candidates = nodeList->GetNodes();
    }
}

std::uint64_t OptimizedRequestParams::Remaining() const {
    if (!ChunkData || ChunkData->upperBound < ChunkData->lowerBound) {
        return 0;
    }
    const std::uint64_t length = ChunkData->upperBound - ChunkData->lowerBound + 1;
    return received < length ? length - received : 0;
}

std::string OptimizedRequestParams::ToUrl() const {
    if (!SelectedNode || !ChunkData) {
        throw std::invalid_argument("OptimizedRequestParams::ToUrl invoked with no SelectedNode or no ChunkData");
    }
    return BuildChunkUrl(SelectedNode->GetHost(), SelectedNode->GetPath(), transferParams.partnerId,
                         transferParams.packageId, transferParams.versionId, ChunkData->GetFilePath());
}

}  // namespace vrexa
