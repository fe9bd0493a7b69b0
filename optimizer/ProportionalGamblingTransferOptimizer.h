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
    void ReleaseNode(const OptimizedRequestParams& params) override;

    // How many requests may be in flight on a node at once when a draw picks
    // it: its mean speed's share of all the candidates' means, of `parallel`
    // requests, rounded up and at least 1. No limit (0) when no mean is known.
    static std::uint32_t InFlightAllowance(double speed, double speedSum, int parallel);

    // Bytes to ask a node whose mean speed is `speed` for, of the `remaining`
    // bytes of a chunk, when the fastest candidate's mean is `bestSpeed`: the
    // part it sends in the time the fastest takes for all of them, in whole
    // multiples of `minPiece`, at least one. All of them when the node is at
    // least half as fast as the fastest or sends them within a quarter of a
    // second anyway, when the rest would be less than one piece, when
    // nothing is known of the speeds, or when `minPiece` is 0.
    static std::uint64_t PieceLength(std::uint64_t remaining, double speed, double bestSpeed, std::uint64_t minPiece);

    // The statistics of node's host, made from the prototype the first time the
    // host is seen; they live as long as the optimizer.
    std::shared_ptr<NodeStatistics> GetStatistics(const NodeManifest& node) override;

private:
    std::shared_ptr<ExponentialNormalNodeStatistics> HostStatistics(const std::string& host);
    void ChooseNormal(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const;
    void ChooseExploring(OptimizedRequestParams& params, std::shared_ptr<NodeManifest> node) const;
    // Count params' request as in flight on its SelectedNode, and no longer;
    // mutex_ held.
    void Hold(const OptimizedRequestParams& params);
    void Release(const OptimizedRequestParams& params);
    std::uint32_t InFlight(const std::string& host) const;

    // Guarded by mutex_.
    std::int32_t connectTimeout_;
    std::int32_t lowSpeedTime_;
    RandomEngine engine_;

    const std::shared_ptr<ExponentialNormalNodeStatistics> prototype_;
    // Guards only the map, so that statistics can be looked up both from inside
    // a node choice and from outside one.
    std::mutex statisticsMutex_;
    std::unordered_map<std::string, std::shared_ptr<ExponentialNormalNodeStatistics>> statistics_;
    // Requests in flight per node host; guarded by mutex_.
    std::unordered_map<std::string, std::uint32_t> inFlight_;
};

}  // namespace vrexa
