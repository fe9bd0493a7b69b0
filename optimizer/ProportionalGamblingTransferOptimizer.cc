#include "optimizer/ProportionalGamblingTransferOptimizer.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <boost/random/uniform_int_distribution.hpp>

#include "optimizer/AliasTable.h"

namespace vrexa {

namespace {

constexpr std::int32_t kLargestSetting = std::numeric_limits<std::int32_t>::max();

// A node whose mean speed is at least this share of the fastest's is asked
// for the whole rest of a chunk.
constexpr double kWholeRestShare = 0.5;

// A request that takes less than this is not worth splitting.
constexpr double kWorthSplittingSeconds = 0.25;

// Pieces a node of unknown speed is measured on: one, since a node that
// crawls holds every request on it for as long as it takes.
constexpr std::uint64_t kExploringPieces = 1;

// Adaptive timeouts double only while doubling cannot overflow.
constexpr std::int32_t kDoublingBound = 0x3FFFFFFF;

std::int32_t Saturate(std::uint64_t value) {
    return value > static_cast<std::uint64_t>(kLargestSetting) ? kLargestSetting : static_cast<std::int32_t>(value);
}

// Seconds the whole request may take: the chunk's share of the bytes all
// parallel requests move at the least acceptable rate, but never less than
// `minimum`. The chunk length times the thread count is taken modulo 2^32.
std::int32_t RequestTimeout(std::uint32_t length, int threads, int rate, int minimum) {
    const std::uint32_t volume = length * static_cast<std::uint32_t>(threads);
    const std::int32_t seconds = rate > 0 ? Saturate(volume / static_cast<std::uint32_t>(rate)) : Saturate(volume);
    return std::max(seconds, minimum);
}

// The slowest rate a request may hold for the low-speed time: the least
// acceptable rate of the transfer divided over the parallel requests, at least
// 1 byte per second.
std::int32_t NormalLowSpeedLimit(int rate, int threads) {
    const auto parallel = static_cast<std::uint32_t>(threads);
    if (parallel == 0) {
        return rate;
    }
    if (parallel > static_cast<std::uint32_t>(kLargestSetting)) {
        return 1;
    }
    return std::max(rate / static_cast<std::int32_t>(parallel), 1);
}

std::int32_t ExploringLowSpeedLimit(int rate, int threads) {
    const auto parallel = static_cast<std::uint32_t>(threads);
    if (rate <= 0 || parallel == 0) {
        return 0;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rate) / parallel);
}

// The least rate a request is held to, lowered under a rate limit: every
// request is then meant to get only its part of the limit, and one held below
// half of the limit would otherwise end in a timeout that is the limit's doing.
int LeastRate(int rate, std::uint64_t rateLimit) {
    if (rateLimit == 0) {
        return rate;
    }
    const std::uint64_t half = std::max<std::uint64_t>(rateLimit / 2, 1);
    return half < static_cast<std::uint64_t>(std::max(rate, 0)) ? static_cast<int>(half) : rate;
}

// Samples a node needs before its own distribution is bet on, and measured
// nodes needed before any bet is made.
constexpr std::uint32_t kSamplesToBet = 2;
constexpr std::size_t kMeasuredToBet = 2;

// The speed the measured nodes make together: the mean of their means, and a
// spread that holds both their own spreads and how far apart they are.
SpeedDistribution AverageNode(const std::vector<SpeedDistribution>& measured) {
    double means = 0;
    double variances = 0;
    double squares = 0;
    for (const auto& [mean, variance] : measured) {
        means += mean;
        variances += variance;
        squares += mean * mean;
    }
    const auto count = static_cast<double>(measured.size());
    const double mean = means / count;
    const double between = std::max(squares / count - mean * mean, 0.0);
    return {mean, variances / count + between};
}

std::uint32_t ChunkLength(const OptimizedRequestParams& params) {
    return static_cast<std::uint32_t>(params.ChunkData->upperBound - params.ChunkData->lowerBound + 1);
}

// Shares the alias table can draw from: finite, not negative, some positive.
bool Drawable(const std::vector<double>& shares) {
    double sum = 0.0;
    for (double share : shares) {
        if (!(share >= 0.0) || !std::isfinite(share)) {
            return false;
        }
        sum += share;
    }
    return sum > 0.0 && std::isfinite(sum);
}

}  // namespace

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(const TransferSettings& settings)
    : ProportionalGamblingTransferOptimizer(settings, static_cast<std::uint32_t>(std::time(nullptr))) {}

ProportionalGamblingTransferOptimizer::ProportionalGamblingTransferOptimizer(const TransferSettings& settings,
                                                                             std::uint32_t seed)
    : TransferOptimizer(settings),
      connectTimeout_(settings.minConnectTimeout),
      lowSpeedTime_(settings.minLowSpeedTime),
      engine_(seed),
      prototype_(std::make_shared<ExponentialNormalNodeStatistics>(settings.statisticsSmoothing)) {}

void ProportionalGamblingTransferOptimizer::GetNode(OptimizedRequestParams& params) {
    std::lock_guard lock(mutex_);
    const auto& candidates = params.candidates;
    if (candidates.empty()) {
        throw std::invalid_argument("TransferOptimizer::GetNode received empty nodelist");
    }
    if (!params.ChunkData) {
        throw std::invalid_argument("TransferOptimizer::GetNode received no ChunkData");
    }
    if (std::find(candidates.begin(), candidates.end(), nullptr) != candidates.end()) {
        throw std::invalid_argument("TransferOptimizer::GetNode received a null node");
    }
    // A params chosen for before and never reported frees its place first.
    Release(params);
    params.requestLength = params.Remaining();
    if (candidates.size() == 1) {
        ChooseNormal(params, candidates.front());
        Hold(params);
        return;
    }

    std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> statistics;
    statistics.reserve(candidates.size());
    for (const auto& node : candidates) {
        statistics.push_back(HostStatistics(node->GetHost()));
    }

    // A node measured fewer than twice has no usable spread yet. Requests
    // in flight on it count as measurements to come, or a slow node would
    // take every request made while its first ones are under way.
    std::vector<std::size_t> unmeasured;
    std::vector<std::size_t> pending;
    NodeListManifest::Nodes nodes;
    std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> measured;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::uint32_t samples = statistics[i]->GetSampleCount();
        if (samples >= kSamplesToBet) {
            nodes.push_back(candidates[i]);
            measured.push_back(statistics[i]);
        } else if (std::uint64_t{samples} + InFlight(candidates[i]->GetHost()) < kSamplesToBet) {
            unmeasured.push_back(i);
        } else {
            pending.push_back(i);
        }
    }
    // A node of unknown speed may be the slowest by far: it is measured on a
    // piece, not on a whole chunk that would hold a thread.
    const auto explore = [&](const std::shared_ptr<NodeManifest>& node) {
        ChooseExploring(params, node);
        const auto piece = static_cast<std::uint64_t>(std::max(settings_.minRequestPiece, 0));
        params.requestLength = PieceLength(params.Remaining(), 0.0, 1.0, kExploringPieces * piece);
        Hold(params);
    };
    if (nodes.size() < kMeasuredToBet) {
        if (!unmeasured.empty()) {
            // Until there is something to bet on, a node measured once is
            // finished before a new one is begun, so that the bet can start
            // after a few requests, not after one to every node.
            std::uint32_t most = 0;
            for (std::size_t i : unmeasured)
                most = std::max(most, statistics[i]->GetSampleCount());
            std::vector<std::size_t> furthest;
            for (std::size_t i : unmeasured) {
                if (statistics[i]->GetSampleCount() == most) furthest.push_back(i);
            }
            boost::random::uniform_int_distribution<std::size_t> pick(0, furthest.size() - 1);
            explore(candidates[furthest[pick(engine_)]]);
            return;
        }
        if (nodes.empty()) {
            boost::random::uniform_int_distribution<std::size_t> pick(0, pending.size() - 1);
            explore(candidates[pending[pick(engine_)]]);
            return;
        }
        // One node measured and the others' measurements under way: bets
        // go to the measured one meanwhile.
        ChooseNormal(params, nodes.front());
        Hold(params);
        return;
    }
    const std::size_t n = nodes.size();

    std::vector<SpeedDistribution> distributions;
    std::vector<std::uint32_t> weights;
    distributions.reserve(n + 1);
    weights.reserve(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        distributions.push_back(measured[i]->GetDistribution());
        weights.push_back(nodes[i]->GetWeight());
    }
    // The nodes not measured yet take one seat in the bet together: one of
    // them, drawn at random, bets as the average of the measured nodes.
    // Measuring every node before betting would spend a client's first two
    // requests per node on all of them alike, the smallest as much as the
    // largest; with many nodes that is the whole download, and a fleet of
    // clients doing it overloads the small nodes.
    std::optional<std::size_t> seat;
    if (!unmeasured.empty()) {
        boost::random::uniform_int_distribution<std::size_t> pick(0, unmeasured.size() - 1);
        seat = unmeasured[pick(engine_)];
        distributions.push_back(AverageNode(distributions));
        weights.push_back(candidates[*seat]->GetWeight());
    }
    const std::uint32_t rounds =
        SimulationRounds(distributions.size(), settings_.simulationRoundsPerNode, settings_.simulationRoundsBudget);
    const std::vector<double> probabilities = SimulateWinProbabilities(distributions, rounds, engine_);
    std::vector<double> shares = AllocateShares(probabilities, weights).shares;
    FloorShares(shares, settings_.minNodeShare);
    // Only a floor setting that is not a proportion can spoil the shares; the
    // win probabilities are always drawable.
    const AliasTable table(Drawable(shares) ? shares : probabilities);
    std::size_t chosen = table.Draw(engine_);
    if (chosen == n) {
        explore(candidates[*seat]);
        return;
    }
    double best = 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        best = std::max(best, distributions[i].first);
        sum += std::max(distributions[i].first, 0.0);
    }
    // Each request on a node shares the node's capacity: a slow node drawn
    // while it already serves its share of the requests would only make
    // every request on it slower. The draw then goes to the node where one
    // more request would be fastest, among those below their share if any.
    const int parallel = std::max(settings_.transferThreads, settings_.parallelItems);
    const auto busy = [&](std::size_t i) {
        const std::uint32_t allowance = InFlightAllowance(distributions[i].first, sum, parallel);
        return allowance != 0 && InFlight(nodes[i]->GetHost()) >= allowance;
    };
    if (busy(chosen)) {
        const auto expected = [&](std::size_t i) {
            return std::max(distributions[i].first, 0.0) / (static_cast<double>(InFlight(nodes[i]->GetHost())) + 1.0);
        };
        std::optional<std::size_t> free;
        std::size_t any = chosen;
        for (std::size_t i = 0; i < n; ++i) {
            if (expected(i) > expected(any)) {
                any = i;
            }
            if (!busy(i) && (!free || expected(i) > expected(*free))) {
                free = i;
            }
        }
        chosen = free ? *free : any;
    }
    ChooseNormal(params, nodes[chosen]);
    Hold(params);
    params.requestLength = PieceLength(params.Remaining(), distributions[chosen].first, best,
                                       static_cast<std::uint64_t>(std::max(settings_.minRequestPiece, 0)));
}

std::uint64_t ProportionalGamblingTransferOptimizer::PieceLength(std::uint64_t remaining, double speed,
                                                                 double bestSpeed, std::uint64_t minPiece) {
    if (minPiece == 0 || remaining <= minPiece || !(bestSpeed > 0.0) || !std::isfinite(bestSpeed) ||
        !std::isfinite(speed)) {
        return remaining;
    }
    // A node at least half as fast as the fastest holds a thread no more
    // than twice as long: splitting would cost it another round trip, more
    // than it saves.
    const double share = speed > 0.0 ? std::min(speed / bestSpeed, 1.0) : 0.0;
    if (share >= kWholeRestShare) {
        return remaining;
    }
    // Nor is a node that sends the rest soon anyway: a request more would
    // cost more than it saves (on a local network, every node).
    if (speed > 0.0 && static_cast<double>(remaining) / speed < kWorthSplittingSeconds) {
        return remaining;
    }
    // What the node sends while the fastest sends everything, rounded up to
    // whole pieces; a node with no successes left in its mean gets one.
    const double pieces = std::ceil(share * static_cast<double>(remaining) / static_cast<double>(minPiece));
    const std::uint64_t length = std::max<std::uint64_t>(static_cast<std::uint64_t>(pieces), 1) * minPiece;
    // A rest smaller than a piece is not worth a request of its own.
    if (length >= remaining || remaining - length < minPiece) {
        return remaining;
    }
    return length;
}

void ProportionalGamblingTransferOptimizer::ReportResult(const OptimizedRequestParams& params,
                                                         const http::RequestStatus& status) {
    if (!params.SelectedNode) {
        throw std::invalid_argument("TransferOptimizer::ReportResult received no SelectedNode");
    }
    std::lock_guard lock(mutex_);
    // An exploring request ran with its own short timeouts; its outcome says
    // nothing about whether the normal ones fit.
    if (!params.exploring) {
        if (status.state == http::State::Succeeded) {
            if (connectTimeout_ > 0) {
                connectTimeout_ = std::max(connectTimeout_ - 1, settings_.minConnectTimeout);
            }
            if (lowSpeedTime_ > 0) {
                lowSpeedTime_ = std::max(lowSpeedTime_ - 1, settings_.minLowSpeedTime);
            }
        } else if (status.state == http::State::Timeout) {
            const auto doubled = [](std::int32_t current, std::int32_t largest) {
                const std::int64_t twice = std::min<std::int64_t>(2 * std::int64_t{current}, largest);
                return static_cast<std::int32_t>(
                    std::max<std::int64_t>(twice, std::numeric_limits<std::int32_t>::min()));
            };
            if (connectTimeout_ < kDoublingBound) {
                connectTimeout_ = doubled(connectTimeout_, settings_.maxConnectTimeout);
            }
            if (lowSpeedTime_ < kDoublingBound) {
                lowSpeedTime_ = doubled(lowSpeedTime_, settings_.maxLowSpeedTime);
            }
        }
    }
    UpdateStatistics(params, status);
    Release(params);
}

void ProportionalGamblingTransferOptimizer::ReleaseNode(const OptimizedRequestParams& params) {
    std::lock_guard lock(mutex_);
    Release(params);
}

std::uint32_t ProportionalGamblingTransferOptimizer::InFlightAllowance(double speed, double speedSum, int parallel) {
    if (!(speedSum > 0.0) || !std::isfinite(speedSum) || parallel <= 0) {
        return 0;
    }
    const double share = std::clamp(std::isfinite(speed) ? speed / speedSum : 0.0, 0.0, 1.0);
    return std::max<std::uint32_t>(static_cast<std::uint32_t>(std::ceil(share * parallel)), 1);
}

std::uint32_t ProportionalGamblingTransferOptimizer::InFlight(const std::string& host) const {
    const auto found = inFlight_.find(host);
    return found == inFlight_.end() ? 0 : found->second;
}

void ProportionalGamblingTransferOptimizer::Hold(const OptimizedRequestParams& params) {
    if (params.SelectedNode) {
        params.heldHost = params.SelectedNode->GetHost();
        ++inFlight_[params.heldHost];
    }
}

void ProportionalGamblingTransferOptimizer::Release(const OptimizedRequestParams& params) {
    if (params.heldHost.empty()) {
        return;
    }
    const auto found = inFlight_.find(params.heldHost);
    if (found != inFlight_.end() && --found->second == 0) {
        inFlight_.erase(found);
    }
    params.heldHost.clear();
}

std::shared_ptr<NodeStatistics> ProportionalGamblingTransferOptimizer::GetStatistics(const NodeManifest& node) {
    return HostStatistics(node.GetHost());
}

std::shared_ptr<ExponentialNormalNodeStatistics> ProportionalGamblingTransferOptimizer::HostStatistics(
    const std::string& host) {
    std::lock_guard lock(statisticsMutex_);
    auto& statistics = statistics_[host];
    if (!statistics) {
        statistics = prototype_->Clone();
    }
    return statistics;
}

void ProportionalGamblingTransferOptimizer::ChooseNormal(OptimizedRequestParams& params,
                                                         std::shared_ptr<NodeManifest> node) const {
    const int threads = settings_.transferThreads;
    const int rate = LeastRate(settings_.minTransferRate, settings_.rateLimit);
    params.SelectedNode = std::move(node);
    params.alwaysRetry = false;
    params.exploring = false;
    params.canGrowTimeouts = connectTimeout_ < settings_.maxConnectTimeout || lowSpeedTime_ < settings_.maxLowSpeedTime;
    params.connectTimeout = connectTimeout_;
    params.timeout = RequestTimeout(ChunkLength(params), threads, rate, settings_.minRequestTimeout);
    params.lowSpeedLimit = NormalLowSpeedLimit(rate, threads);
    params.lowSpeedTime = lowSpeedTime_;
}

void ProportionalGamblingTransferOptimizer::ChooseExploring(OptimizedRequestParams& params,
                                                            std::shared_ptr<NodeManifest> node) const {
    const int threads = settings_.transferThreads;
    const int rate = LeastRate(settings_.exploreMinTransferRate, settings_.rateLimit);
    params.SelectedNode = std::move(node);
    params.alwaysRetry = true;
    params.exploring = true;
    params.canGrowTimeouts = false;
    params.connectTimeout = settings_.exploreConnectTimeout;
    params.timeout = RequestTimeout(ChunkLength(params), threads, rate, settings_.exploreMinRequestTimeout);
    params.lowSpeedLimit = ExploringLowSpeedLimit(rate, threads);
    params.lowSpeedTime = settings_.exploreLowSpeedTime;
}

}  // namespace vrexa
