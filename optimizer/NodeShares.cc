#include "optimizer/NodeShares.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/random/normal_distribution.hpp>

namespace vrexa {

std::uint32_t SimulationRounds(std::size_t candidates, int roundsPerNode, int roundsBudget) {
    if (candidates == 0 || roundsPerNode <= 0 || roundsBudget <= 0) {
        return 0;
    }
    const std::uint64_t n = candidates;
    const std::uint64_t byBudget = static_cast<std::uint64_t>(roundsBudget) / n;
    const std::uint64_t byNode = n * static_cast<std::uint64_t>(roundsPerNode);
    // Both bounds fit: the budget quotient never exceeds the budget, an int.
    return static_cast<std::uint32_t>(std::min(byBudget, byNode));
}

std::vector<double> SimulateWinProbabilities(const std::vector<SpeedDistribution>& distributions, std::uint32_t rounds,
                                             RandomEngine& engine) {
    const std::size_t n = distributions.size();
    std::vector<boost::random::normal_distribution<double>> speeds;
    speeds.reserve(n);
    for (const auto& [mean, variance] : distributions) {
        // A variance can only come out negative (or undefined) from a smoothing
        // factor outside [0, 1]; such a node is treated as perfectly steady.
        const double deviation = variance > 0.0 ? std::sqrt(variance) : 0.0;
        speeds.emplace_back(mean, std::isfinite(deviation) ? deviation : 0.0);
    }

    std::vector<std::uint64_t> wins(n, 1);
    for (std::uint32_t round = 0; round < rounds; ++round) {
        double best = 0.0;
        std::size_t winner = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double value = speeds[i](engine);
            if (value > best) {
                best = value;
                winner = i;
            }
        }
        ++wins[winner];
    }

    std::vector<double> probabilities(n);
    const double total = static_cast<double>(n) + static_cast<double>(rounds);
    for (std::size_t i = 0; i < n; ++i) {
        probabilities[i] = static_cast<double>(wins[i]) / total;
    }
    return probabilities;
}

ShareAllocation AllocateShares(const std::vector<double>& winProbabilities, const std::vector<std::uint32_t>& weights) {
    const std::size_t n = winProbabilities.size();
    ShareAllocation allocation;
    allocation.shares.assign(n, 0.0);
    if (n == 0) {
        return allocation;
    }

    // The heaviest node sets the odds: a node of weight w pays W / w - 1.
    std::uint32_t heaviest = 0;
    for (std::size_t i = 0; i < n && i < weights.size(); ++i) {
        heaviest = std::max(heaviest, weights[i]);
    }
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    std::vector<double> stake(n);
    std::vector<double> ratio(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t weight = i < weights.size() ? weights[i] : 0;
        double factor = 0.0;
        if (heaviest != 0) {
            factor = weight == 0 ? std::numeric_limits<double>::max()
                                 : static_cast<double>(heaviest) / static_cast<double>(weight) - 1.0;
        }
        const double p = winProbabilities[i];
        stake[i] = p * factor;
        if (p <= 0.0) {
            ratio[i] = 0.0;
        } else if (stake[i] <= 0.0) {
            ratio[i] = kInfinity;
        } else {
            ratio[i] = p / stake[i];
        }
    }

    allocation.order.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        allocation.order[i] = i;
    }
    std::stable_sort(allocation.order.begin(), allocation.order.end(),
                     [&ratio](std::size_t a, std::size_t b) { return ratio[a] > ratio[b]; });

    const auto& order = allocation.order;
    double probability = winProbabilities[order[0]];
    double stakes = stake[order[0]] + 1.0;
    double edge = probability / stakes;
    std::size_t taken = 1;
    while (taken < n) {
        const std::size_t previous = order[taken - 1];
        const std::size_t next = order[taken];
        if (!(edge >= ratio[previous] || ratio[next] > edge)) {
            break;
        }
        probability += winProbabilities[next];
        stakes += stake[next];
        edge = probability / stakes;
        ++taken;
    }
    allocation.taken = taken;

    for (std::size_t k = 0; k < taken; ++k) {
        const std::size_t i = order[k];
        const double share = winProbabilities[i] / edge - stake[i];
        if (!(share >= 0.0) || !std::isfinite(share)) {
            allocation.shares = winProbabilities;
            allocation.fellBack = true;
            return allocation;
        }
        allocation.shares[i] = share;
    }
    return allocation;
}

void FloorShares(std::vector<double>& shares, double minShare) {
    const auto below = static_cast<std::size_t>(
        std::count_if(shares.begin(), shares.end(), [minShare](double s) { return s < minShare; }));
    if (below == 0) {
        return;
    }
    const double lift = minShare / static_cast<double>(below);
    double added = 0.0;
    for (double& share : shares) {
        if (share < minShare) {
            const double lifted = std::min(share + lift, minShare);
            added += lifted - share;
            share = lifted;
        }
    }
    for (double& share : shares) {
        share /= added + 1.0;
    }
}

}  // namespace vrexa
