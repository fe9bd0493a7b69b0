#pragma once

#include <memory>
#include <mutex>

#include "http/RequestStatus.h"
#include "manifest/NodeManifest.h"
#include "manifest/NodeStatistics.h"
#include "optimizer/OptimizedRequestParams.h"
#include "transfer/TransferBehavior.h"

namespace vrexa {

// Chooses the node and the request settings for every chunk request, and
// learns from how each request went. One optimizer serves every transfer of
// the service; many chunk works call it at once.
class TransferOptimizer {
public:
    // Keeps a copy of the settings as they are now.
    explicit TransferOptimizer(const TransferSettings& settings);
    virtual ~TransferOptimizer();

    TransferOptimizer(const TransferOptimizer&) = delete;
    TransferOptimizer& operator=(const TransferOptimizer&) = delete;

    // Fills SelectedNode, the three flags and the four request settings of
    // params. Throws std::invalid_argument when params has no candidates.
    virtual void GetNode(OptimizedRequestParams& params) = 0;

    // Learns from the final status of a request made with params. Throws
    // std::invalid_argument, and learns nothing, when params has no SelectedNode.
    virtual void ReportResult(const OptimizedRequestParams& params, const http::RequestStatus& status) = 0;

    // A request made with params has ended without a result to learn from
    // (aborted, or failed for a reason of this machine's): the optimizer no
    // longer counts it as in flight on its node. ReportResult does the same.
    virtual void ReleaseNode(const OptimizedRequestParams& params);

    // The statistics the optimizer keeps for node; here the node's own.
    virtual std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node);

    // Adds status as a sample to the statistics of params' SelectedNode.
    virtual void UpdateStatistics(const OptimizedRequestParams& params, const http::RequestStatus& status);

protected:
    // Serializes node choice and result feedback.
    std::mutex mutex_;
    const TransferSettings settings_;
};

}  // namespace vrexa
