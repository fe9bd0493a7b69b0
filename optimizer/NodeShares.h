#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <boost/random/mersenne_twister.hpp>

namespace vrexa {

// The optimizer's one source of randomness. Every draw of a node choice comes
// from it, in a fixed order, so a seeded engine reproduces a run of choices.
using RandomEngine = boost::random::mt19937;

// A node's request speed as a normal distribution: (mean, variance), bytes per
// second.
using SpeedDistribution = std::pair<double, double>;

// Number of simulation rounds for n candidates: the total budget split over the
// candidates, but never more than roundsPerNode for each of them. Settings that
// are not positive give no rounds (every candidate then wins equally often).
std::uint32_t SimulationRounds(std::size_t candidates, int roundsPerNode, int roundsBudget);

// Estimates, for each distribution, the probability that a draw from it is the
// largest of one draw from every distribution. Each candidate starts with one
// win so that none is ever certain to lose; a round in which nothing beats 0 is
// given to candidate 0. Draws happen in candidate order, round after round.
std::vector<double> SimulateWinProbabilities(const std::vector<SpeedDistribution>& distributions, std::uint32_t rounds,
                                             RandomEngine& engine);

// How the win probabilities and the configured weights turned into shares.
struct ShareAllocation {
    std::vector<double> shares;      // one per candidate, in candidate order
    std::vector<std::size_t> order;  // candidate positions sorted by payoff ratio, best first
    std::size_t taken = 0;           // how many of `order` received a share
    bool fellBack = false;           // the allocation was unusable; shares are the probabilities
};

// Spreads the bet over the candidates: a node's weight acts as the odds it is
// offered (a lighter node must win much more often to earn a share), and nodes
// are taken in order of their probability-to-odds ratio while they still
// improve the bet. A negative or non-finite share means the allocation does not
// apply; the win probabilities themselves are used instead.
ShareAllocation AllocateShares(const std::vector<double>& winProbabilities, const std::vector<std::uint32_t>& weights);

// Lifts every share below minShare towards it (together by at most minShare)
// and renormalises, so that every node keeps being sampled now and then and its
// statistics do not go stale.
void FloorShares(std::vector<double>& shares, double minShare);

}  // namespace vrexa
