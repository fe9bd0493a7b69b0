#include "optimizer/NodeShares.h"

#include <cmath>
#include <limits>
#include <numeric>

#include <gtest/gtest.h>

#include "optimizer/AliasTable.h"

namespace vrexa {
namespace {

double Sum(const std::vector<double>& values) { return std::accumulate(values.begin(), values.end(), 0.0); }

TEST(SimulationRoundsTest, BudgetAndPerNodeBoundsApply) {
    struct Case {
        std::size_t candidates;
        int perNode;
        int budget;
        std::uint32_t rounds;
    };
    const Case cases[] = {
        {2, 50, 10000, 100},                       // per-node bound: 2 x 50
        {8, 50, 10000, 400},                       // per-node bound: 8 x 50
        {20, 50, 10000, 500},                      // budget bound: 10000 / 20
        {3, 50, 10000, 150},  {7, 1000, 100, 14},  // budget quotient truncates: 100 / 7
        {3, 0, 10000, 0},                          // settings that are not positive give no rounds
        {3, 50, -1, 0},       {0, 50, 10000, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SimulationRounds(c.candidates, c.perNode, c.budget), c.rounds)
            << c.candidates << " candidates, " << c.perNode << " per node, budget " << c.budget;
    }
}

TEST(SimulateWinProbabilitiesTest, ProbabilitiesCountTheStartingWinAndSumToOne) {
    RandomEngine engine(7);
    const auto p = SimulateWinProbabilities({{100.0, 1.0}, {200.0, 1.0}, {300.0, 1.0}}, 150, engine);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_NEAR(Sum(p), 1.0, 1e-12);
    // Deviations of 1 around means 100 apart: the fastest wins every round.
    EXPECT_DOUBLE_EQ(p[0], 1.0 / 153.0);
    EXPECT_DOUBLE_EQ(p[1], 1.0 / 153.0);
    EXPECT_DOUBLE_EQ(p[2], 151.0 / 153.0);
}

TEST(SimulateWinProbabilitiesTest, RoundsWithNothingAboveZeroGoToTheFirstCandidate) {
    RandomEngine engine(7);
    // Fresh per-host statistics are (0, 0): every draw is exactly 0, never above
    // the running best, so candidate 0 takes every round.
    const auto p = SimulateWinProbabilities({{0.0, 0.0}, {0.0, 0.0}}, 100, engine);
    EXPECT_DOUBLE_EQ(p[0], 101.0 / 102.0);
    EXPECT_DOUBLE_EQ(p[1], 1.0 / 102.0);
}

TEST(SimulateWinProbabilitiesTest, EqualDistributionsWinAboutEquallyOften) {
    RandomEngine engine(11);
    const auto p = SimulateWinProbabilities({{5000.0, 1e6}, {5000.0, 1e6}}, 20000, engine);
    EXPECT_NEAR(p[0], 0.5, 0.02);
    EXPECT_NEAR(p[1], 0.5, 0.02);
}

TEST(SimulateWinProbabilitiesTest, OverlappingDistributionsFavourTheFasterMean) {
    RandomEngine engine(3);
    // Means one deviation apart: the faster wins P(X > Y) = Phi(1 / sqrt 2), about 0.76.
    const auto p = SimulateWinProbabilities({{1000.0, 10000.0}, {1100.0, 10000.0}}, 20000, engine);
    EXPECT_NEAR(p[1], 0.76, 0.02);
}

TEST(SimulateWinProbabilitiesTest, NegativeVarianceIsTreatedAsSteady) {
    RandomEngine engine(5);
    const auto p = SimulateWinProbabilities({{10.0, -4.0}, {20.0, 0.0}}, 10, engine);
    EXPECT_DOUBLE_EQ(p[1], 11.0 / 12.0);
}

TEST(AllocateSharesTest, EqualWeightsGiveTheWinProbabilities) {
    const std::vector<double> p = {0.3, 0.7};
    const ShareAllocation allocation = AllocateShares(p, {1, 1});
    EXPECT_FALSE(allocation.fellBack);
    EXPECT_EQ(allocation.taken, 2u);
    EXPECT_EQ(allocation.order, (std::vector<std::size_t>{0, 1}));
    EXPECT_DOUBLE_EQ(allocation.shares[0], 0.3);
    EXPECT_DOUBLE_EQ(allocation.shares[1], 0.7);
}

TEST(AllocateSharesTest, AllWeightsZeroBehaveLikeEqualWeights) {
    const ShareAllocation allocation = AllocateShares({0.25, 0.75}, {0, 0});
    EXPECT_EQ(allocation.taken, 2u);
    EXPECT_DOUBLE_EQ(allocation.shares[0], 0.25);
    EXPECT_DOUBLE_EQ(allocation.shares[1], 0.75);
}

TEST(AllocateSharesTest, WeightZeroNodeIsSortedLastAndGetsNoShare) {
    const std::vector<double> p = {0.2, 0.5, 0.3};
    const ShareAllocation allocation = AllocateShares(p, {1, 0, 1});
    EXPECT_EQ(allocation.order, (std::vector<std::size_t>{0, 2, 1}));
    EXPECT_EQ(allocation.taken, 2u);
    EXPECT_FALSE(allocation.fellBack);
    // The two taken nodes split everything in proportion to their probabilities.
    EXPECT_DOUBLE_EQ(allocation.shares[0], 0.2 / 0.5);
    EXPECT_DOUBLE_EQ(allocation.shares[2], 0.3 / 0.5);
    EXPECT_EQ(allocation.shares[1], 0.0);
}

TEST(AllocateSharesTest, LighterNodeIsPaidItsOdds) {
    // Weights 2 and 1: the lighter node pays odds of 1 and is still worth taking
    // while its probability beats the edge of the heavier one.
    const double p0 = 0.6;
    const double p1 = 0.4;
    const ShareAllocation allocation = AllocateShares({p0, p1}, {2, 1});
    EXPECT_EQ(allocation.order, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(allocation.taken, 2u);
    EXPECT_DOUBLE_EQ(allocation.shares[0], p0 * (1.0 + p1));
    EXPECT_DOUBLE_EQ(allocation.shares[1], p1 * (1.0 + p1) - p1);
    EXPECT_NEAR(Sum(allocation.shares), 1.0, 1e-12);
}

TEST(AllocateSharesTest, NodeWhoseOddsDoNotPayIsLeftOut) {
    // Weights 1000 and 1: the light node would need a probability above the
    // heavy node's to be taken.
    const ShareAllocation allocation = AllocateShares({0.9, 0.1}, {1000, 1});
    EXPECT_EQ(allocation.taken, 1u);
    EXPECT_DOUBLE_EQ(allocation.shares[0], 1.0);
    EXPECT_EQ(allocation.shares[1], 0.0);
}

TEST(AllocateSharesTest, EqualRatiosKeepListOrder) {
    const ShareAllocation allocation = AllocateShares({0.1, 0.2, 0.3, 0.4}, {3, 1, 3, 1});
    // Ratios: weight-3 nodes have factor 0 (+infinity), weight-1 nodes 1/2.
    EXPECT_EQ(allocation.order, (std::vector<std::size_t>{0, 2, 1, 3}));
}

TEST(AllocateSharesTest, ZeroProbabilityIsSortedBehindEverything) {
    const ShareAllocation allocation = AllocateShares({0.0, 1.0}, {1, 1});
    EXPECT_EQ(allocation.order, (std::vector<std::size_t>{1, 0}));
    EXPECT_DOUBLE_EQ(allocation.shares[1], 1.0);
}

TEST(AllocateSharesTest, UnusableAllocationFallsBackToProbabilities) {
    // Nothing has a positive probability: the edge is 0 and every share undefined.
    const std::vector<double> p = {0.0, 0.0};
    const ShareAllocation allocation = AllocateShares(p, {1, 1});
    EXPECT_TRUE(allocation.fellBack);
    EXPECT_EQ(allocation.shares, p);
}

TEST(FloorSharesTest, SharesBelowTheFloorAreLiftedAndAllRenormalised) {
    struct Case {
        const char* name;
        std::vector<double> shares;
        std::vector<double> expected;
    };
    const double m = 0.05;
    const Case cases[] = {
        {"nothing below the floor", {0.5, 0.5}, {0.5, 0.5}},
        {"one at zero", {0.0, 1.0}, {0.05 / 1.05, 1.0 / 1.05}},
        // Two below: each may rise by m / 2, and the one close to the floor stops at it.
        {"two below", {0.0, 0.04, 0.96}, {0.025 / 1.035, 0.05 / 1.035, 0.96 / 1.035}},
        {"exactly at the floor", {0.05, 0.95}, {0.05, 0.95}},
    };
    for (const Case& c : cases) {
        std::vector<double> shares = c.shares;
        FloorShares(shares, m);
        ASSERT_EQ(shares.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < shares.size(); ++i) {
            EXPECT_DOUBLE_EQ(shares[i], c.expected[i]) << c.name << " share " << i;
        }
    }
}

TEST(AliasTableTest, TableReproducesTheWeights) {
    const std::vector<double> weights = {0.1, 0.0, 0.6, 0.3};
    const AliasTable table(weights);
    ASSERT_EQ(table.Size(), 4u);
    // The mass each position receives: its own probability plus what others pass on.
    std::vector<double> mass(4, 0.0);
    for (std::size_t i = 0; i < 4; ++i) {
        mass[i] += table.Probability(i) / 4.0;
        mass[table.Alias(i)] += (1.0 - table.Probability(i)) / 4.0;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(mass[i], weights[i], 1e-12) << "position " << i;
    }
}

TEST(AliasTableTest, DrawsFollowTheWeightsAndNeverAZeroWeight) {
    const AliasTable table({1.0, 0.0, 3.0});
    RandomEngine engine(42);
    std::vector<int> counts(3, 0);
    const int draws = 40000;
    for (int i = 0; i < draws; ++i) {
        ++counts[table.Draw(engine)];
    }
    EXPECT_EQ(counts[1], 0);
    EXPECT_NEAR(counts[0] / static_cast<double>(draws), 0.25, 0.01);
    EXPECT_NEAR(counts[2] / static_cast<double>(draws), 0.75, 0.01);
}

TEST(AliasTableTest, RejectsWeightsThatDescribeNoDistribution) {
    const std::vector<std::vector<double>> bad = {
        {},
        {0.0, 0.0},
        {1.0, -0.5},
        {1.0, std::numeric_limits<double>::quiet_NaN()},
        {1.0, std::numeric_limits<double>::infinity()},
    };
    for (const auto& weights : bad) {
        EXPECT_THROW(AliasTable{weights}, std::invalid_argument) << weights.size() << " weights";
    }
}

}  // namespace
}  // namespace vrexa
