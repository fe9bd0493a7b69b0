#include "optimizer/OptimizedRequestParams.h"

#include <algorithm>
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

}  // namespace vrexa
