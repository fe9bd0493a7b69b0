#include "optimizer/ProportionalGamblingTransferOptimizer.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include <boost/random/uniform_int_distribution.hpp>

#include "optimizer/AliasTable.h"

namespace vrexa {

namespace {

constexpr std::int32_t kLargestSetting = std::numeric_limits<std::int32_t>::max();

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
    if (candidates.size() == 1) {
        ChooseNormal(params, candidates.front());
        return;
    }

    const std::size_t n = candidates.size();
    std::vector<std::shared_ptr<ExponentialNormalNodeStatistics>> statistics;
    statistics.reserve(n);
    for (const auto& node : candidates) {
        statistics.push_back(HostStatistics(node->GetHost()));
    }

    // A node measured fewer than twice has no usable spread yet. Until two
    // nodes have one there is nothing to bet on, so one of the others is
    // measured first.
    std::vector<bool> unmeasured(n, false);
    std::vector<std::size_t> unmeasuredAt;
    for (std::size_t i = 0; i < n; ++i) {
        if (statistics[i]->GetSampleCount() < kSamplesToBet) {
            unmeasured[i] = true;
            unmeasuredAt.push_back(i);
        }
    }
    if (n - unmeasuredAt.size() < kMeasuredToBet) {
        // A node already measured once is measured again before a new one is
        // begun, so that the bet can start after a few requests, not after
        // one to every node.
        std::uint32_t most = 0;
        for (std::size_t i : unmeasuredAt)
            most = std::max(most, statistics[i]->GetSampleCount());
        std::vector<std::size_t> furthest;
        for (std::size_t i : unmeasuredAt) {
            if (statistics[i]->GetSampleCount() == most) furthest.push_back(i);
        }
        boost::random::uniform_int_distribution<std::size_t> pick(0, furthest.size() - 1);
        ChooseExploring(params, candidates[furthest[pick(engine_)]]);
        return;
    }

    // The others take one seat in the bet together: one of them, drawn at
    // random, bets as the average of the nodes measured so far. Measuring
    // every node before betting would spend a client's first two requests per
    // node on all of them alike, the smallest as much as the largest; with
    // many nodes that is the whole download, and a fleet of clients doing it
    // overloads the small nodes.
    std::vector<std::size_t> bet;
    bet.reserve(n - unmeasuredAt.size() + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (!unmeasured[i]) bet.push_back(i);
    }
    std::vector<SpeedDistribution> distributions;
    std::vector<std::uint32_t> weights;
    distributions.reserve(bet.size() + 1);
    weights.reserve(bet.size() + 1);
    for (std::size_t i : bet) {
        distributions.push_back(statistics[i]->GetDistribution());
        weights.push_back(candidates[i]->GetWeight());
    }
    if (!unmeasuredAt.empty()) {
        boost::random::uniform_int_distribution<std::size_t> pick(0, unmeasuredAt.size() - 1);
        const std::size_t seat = unmeasuredAt[pick(engine_)];
        distributions.push_back(AverageNode(distributions));
        weights.push_back(candidates[seat]->GetWeight());
        bet.push_back(seat);
    }
    const std::uint32_t rounds =
        SimulationRounds(bet.size(), settings_.simulationRoundsPerNode, settings_.simulationRoundsBudget);
    const std::vector<double> probabilities = SimulateWinProbabilities(distributions, rounds, engine_);
    std::vector<double> shares = AllocateShares(probabilities, weights).shares;
    FloorShares(shares, settings_.minNodeShare);
    // Only a floor setting that is not a proportion can spoil the shares; the
    // win probabilities are always drawable.
    const AliasTable table(Drawable(shares) ? shares : probabilities);
    const std::size_t chosen = bet[table.Draw(engine_)];
    if (unmeasured[chosen]) {
        ChooseExploring(params, candidates[chosen]);
    } else {
        ChooseNormal(params, candidates[chosen]);
    }
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
