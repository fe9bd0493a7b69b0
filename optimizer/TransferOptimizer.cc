#include "optimizer/TransferOptimizer.h"

#include <stdexcept>

namespace vrexa {

void TransferOptimizer::ReleaseNode(const OptimizedRequestParams&) {}

TransferOptimizer::TransferOptimizer(const TransferSettings& settings) : settings_(settings) {}

TransferOptimizer::~TransferOptimizer() = default;

std::shared_ptr<NodeStatistics> TransferOptimizer::GetStatistics(const NodeManifest& node) {
    return node.GetStatistics();
}

void TransferOptimizer::UpdateStatistics(const OptimizedRequestParams& params, const http::RequestStatus& status) {
    if (!params.SelectedNode) {
        throw std::invalid_argument("TransferOptimizer::UpdateStatistics received no SelectedNode");
    }
    if (const auto statistics = GetStatistics(*params.SelectedNode)) {
        statistics->AddSample(status);
    }
}

}  // namespace vrexa
