#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/NodeListManifest.h"
#include "optimizer/ChunkRange.h"
#include "transfer/TransferParams.h"

namespace vrexa {

// What one chunk request asks the optimizer and what the optimizer answers:
// the nodes still to try, the node chosen and the request settings for it.
// One per chunk request work; it lives across that work's attempts.
struct OptimizedRequestParams {
    // Every node of the list becomes a candidate.
    OptimizedRequestParams(std::shared_ptr<NodeListManifest> nodeList, TransferParams transferParams,
                           std::shared_ptr<ChunkRange> chunkData);

    // Removes SelectedNode from the candidates; when that leaves none, every
    // node of the list is a candidate again. So the retries of one chunk go to
    // every node once before any node is asked twice.
    void RemoveSelectedNode();
    // The chunk's URL on SelectedNode (see BuildChunkUrl). Throws
    // std::invalid_argument without SelectedNode or ChunkData, and for
    // identifiers or a file path that cannot be a path segment.
    std::string ToUrl() const;

    std::shared_ptr<NodeListManifest> nodeList;
    NodeListManifest::Nodes candidates;
    // The transfer's identifiers, for the chunk's URL.
    TransferParams transferParams;
    std::shared_ptr<ChunkRange> ChunkData;
    // Empty until the optimizer has chosen.
    std::shared_ptr<NodeManifest> SelectedNode;

    // Bytes at the start of the chunk already received: a request asks from
    // the byte after them. The request work sets it before each choice.
    std::uint64_t received = 0;
    // The optimizer's answer: how many bytes, from there, this request asks
    // the chosen node for; the rest of the chunk unless the node is slow.
    std::uint64_t requestLength = 0;
    // The bytes of the chunk not yet received.
    std::uint64_t Remaining() const;
    // The host the optimizer counts this request as in flight on, until its
    // result or release; empty when none. The optimizer's own record.
    mutable std::string heldHost;

    // A failure of this request is retried without using up the retry budget.
    bool alwaysRetry = false;
    // When chosen, the adaptive timeouts could still grow, so a timeout is worth
    // retrying with the longer ones.
    bool canGrowTimeouts = false;
    // The node was chosen to be measured, not for its speed.
    bool exploring = false;

    // The request settings, in seconds and bytes per second.
    std::int32_t connectTimeout = 0;
    std::int32_t timeout = 0;
    std::int32_t lowSpeedLimit = 0;
    std::int32_t lowSpeedTime = 0;
};

}  // namespace vrexa
