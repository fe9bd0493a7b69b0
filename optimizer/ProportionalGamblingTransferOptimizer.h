#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "optimizer/ExponentialNormalNodeStatistics.h"
#include "optimizer/NodeShares.h"
#include "optimizer/TransferOptimizer.h"

namespace vrexa {

// Spreads the chunk requests over the nodes like a bet:
//
//   candidates ── one? ─────────────────────────────────────────► normal pick
//       │
//       ├─ any measured fewer than twice? ── uniform among them ─► exploring pick
//       │
//       └─ simulate speeds ─► win probabilities ─► shares by weight
//                              ─► floor ─► draw by share ─────────► normal pick
//
// Each node host's speed is a normal distribution learned with exponential
// smoothing; the simulation estimates how likely each node is to be the
// fastest, and the node weights act as the odds offered. Timeouts adapt: they
// shrink by a second after each success and double after each timeout.
class ProportionalGamblingTransferOptimizer : public TransferOptimizer {
public:
    // Seeded with the current calendar time, so runs differ.
    explicit ProportionalGamblingTransferOptimizer(const TransferSettings& settings);
    // Seeded with `seed`, so a run of choices can be reproduced.
    ProportionalGamblingTransferOptimizer(const TransferSettings& settings, std::uint32_t seed);

    void GetNode(OptimizedRequestParams& params) override;
    void ReportResult(const OptimizedRequestParams& params, const http::RequestStatus& status) override;

    // The statistics of node's host, made from the prototype the first time the
    // host is seen; they live as long as the optimizer.
    std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node) override;

private:
    std::shared_ptr<ExponentialNormalNodeStatistics> HostStatistics(const std::string& host);
    void ChooseNormal(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const;
    void ChooseExploring(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const;

    // Guarded by mutex_.
    std::int32_t connectTimeout_;
    std::int32_t lowSpeedTime_;
    RandomEngine engine_;

    const std::shared_ptr<ExponentialNormalNodeStatistics> prototype_;
    // Guards only the map, so that statistics can be looked up both from inside
    // a node choice and from outside one.
    std::mutex statisticsMutex_;
    std::unordered_map<std::string, std::shared_ptr<ExponentialNormalNodeStatistics>> statistics_;
};

}  // namespace vrexa
