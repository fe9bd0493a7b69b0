#include <cmath>
#include <limits>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "optimizer/ExponentialNormalNodeStatistics.h"
#include "optimizer/NormalNodeStatistics.h"

namespace vrexa {
namespace {

http::RequestStatus Sample(http::State state, std::uint64_t bytes, std::uint32_t totalTimeMs) {
    http::RequestStatus status;
    status.state = state;
    status.bytes = bytes;
    status.totalTimeMs = totalTimeMs;
    status.firstByteTimeMs = totalTimeMs / 2;
    return status;
}

http::RequestStatus Success(std::uint64_t bytes, std::uint32_t totalTimeMs) {
    return Sample(http::State::Succeeded, bytes, totalTimeMs);
}

TEST(SampleSpeedTest, SpeedIsBytesPerSecondWithAtLeastOneMillisecond) {
    struct Case {
        http::RequestStatus status;
        double speed;
    };
    const Case cases[] = {
        {Success(1000, 500), 2000.0},
        {Success(1048576, 1000), 1048576.0},
        {Success(7, 0), 7000.0},                           // no measurable time counts as 1 ms
        {Sample(http::State::Aborted, 300, 100), 3000.0},  // aborted is no error of the node
        {Sample(http::State::Timeout, 5000, 100), 0.0},    // an error is speed 0 whatever it moved
        {Sample(http::State::ConnectError, 0, 0), 0.0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(NormalNodeStatistics::SampleSpeed(c.status), c.speed)
            << "state " << static_cast<int>(c.status.state);
    }
}

TEST(NormalNodeStatisticsTest, FreshModelIsMeanZeroVarianceOne) {
    NormalNodeStatistics statistics;
    EXPECT_EQ(statistics.GetDistribution(), std::make_pair(0.0, 1.0));
    EXPECT_EQ(statistics.GetSampleCount(), 0u);
    statistics.AddSample(Success(1000, 1000));
    // One sample: mean known, spread not yet.
    EXPECT_EQ(statistics.GetDistribution(), std::make_pair(1000.0, 1.0));
}

TEST(NormalNodeStatisticsTest, SuccessesGiveSampleMeanAndVariance) {
    NormalNodeStatistics statistics;
    for (std::uint64_t bytes : {1000, 2000, 4000, 5000}) {
        statistics.AddSample(Success(bytes, 1000));
    }
    const auto [mean, variance] = statistics.GetDistribution();
    EXPECT_DOUBLE_EQ(mean, 3000.0);
    // Unbiased sample variance of 1000, 2000, 4000, 5000.
    EXPECT_DOUBLE_EQ(variance, 10000000.0 / 3.0);
    EXPECT_EQ(statistics.GetSampleCount(), 4u);
    // The plain counters are fed too.
    EXPECT_EQ(statistics.GetSuccesses(), 4u);
    EXPECT_EQ(statistics.GetBytes(), 12000u);
}

TEST(NormalNodeStatisticsTest, ErrorWeighsMoreTheLongerTheNodeWasMeasured) {
    // Reference: Welford's update applied value by value.
    struct Reference {
        std::uint32_t count = 0;
        double mean = 0.0;
        double spread = 0.0;
        void Add(double x) {
            ++count;
            const double d = x - mean;
            mean += d / count;
            spread += (x - mean) * d;
        }
    };
    NormalNodeStatistics statistics;
    Reference reference;
    for (int i = 0; i < 25; ++i) {
        statistics.AddSample(Success(1000 + 100 * i, 1000));
        reference.Add(1000.0 + 100.0 * i);
    }
    // 25 samples before the error: it counts 25 / 10 + 1 = 3 times.
    statistics.AddSample(Sample(http::State::ServerError, 0, 50));
    for (int i = 0; i < 3; ++i) {
        reference.Add(0.0);
    }
    EXPECT_EQ(statistics.GetSampleCount(), 28u);
    const auto [mean, variance] = statistics.GetDistribution();
    EXPECT_NEAR(mean, reference.mean, 1e-9 * reference.mean);
    EXPECT_NEAR(variance, reference.spread / 27.0, 1e-9 * reference.spread);
    EXPECT_EQ(statistics.GetErrors(), 1u);
    EXPECT_EQ(statistics.GetHttpServerErrors(), 1u);
}

TEST(NormalNodeStatisticsTest, ErrorOnFreshNodeCountsOnce) {
    NormalNodeStatistics statistics;
    statistics.AddSample(Sample(http::State::Timeout, 0, 10));
    EXPECT_EQ(statistics.GetSampleCount(), 1u);
    EXPECT_EQ(statistics.GetDistribution(), std::make_pair(0.0, 1.0));
}

TEST(NormalNodeStatisticsTest, LongRunOfErrorsNeitherHangsNorWrapsTheCount) {
    NormalNodeStatistics statistics;
    statistics.AddSample(Success(1000, 1000));
    // Each error repeats count / 10 + 1 times, so the count grows by a tenth
    // each time and would pass 2^32 after about 230 errors.
    for (int i = 0; i < 400; ++i) {
        statistics.AddSample(Sample(http::State::TransmitError, 0, 10));
    }
    EXPECT_EQ(statistics.GetSampleCount(), std::numeric_limits<std::uint32_t>::max());
    const auto [mean, variance] = statistics.GetDistribution();
    EXPECT_GE(mean, 0.0);
    EXPECT_LT(mean, 1e-3);
    EXPECT_TRUE(std::isfinite(variance));
}

TEST(NormalNodeStatisticsTest, WriteReplacesAverageSpeedWithTheMeanAndAddsDeviation) {
    NormalNodeStatistics statistics;
    statistics.AddSample(Success(1000, 1000));
    statistics.AddSample(Success(3000, 1000));
    boost::property_tree::ptree tree;
    statistics.Write(tree);
    EXPECT_EQ(tree.get<std::string>("Requests"), "2");
    EXPECT_EQ(tree.get<std::string>("Errors"), "0");
    EXPECT_EQ(tree.get<std::string>("Bytes"), "4000");
    EXPECT_EQ(tree.count("Average Request Speed"), 1u);
    EXPECT_EQ(tree.get<std::string>("Average Request Speed"), "2000");
    // Variance 2,000,000: deviation 1414.2..., truncated.
    EXPECT_EQ(tree.get<std::string>("Standard Deviation"), "1414");
}

TEST(ExponentialNormalNodeStatisticsTest, FreshModelIsZeroZero) {
    const ExponentialNormalNodeStatistics statistics(0.3);
    EXPECT_EQ(statistics.GetDistribution(), std::make_pair(0.0, 0.0));
    EXPECT_EQ(statistics.GetSampleCount(), 0u);
}

TEST(ExponentialNormalNodeStatisticsTest, SamplesMoveMeanAndVarianceBySmoothingFactor) {
    ExponentialNormalNodeStatistics statistics(0.3);
    struct Step {
        http::RequestStatus sample;
        double mean;
        double variance;
    };
    // m' = 0.7 m + 0.3 x; v' = (x - m') 0.3 (x - m) + 0.7 v.
    const Step steps[] = {
        {Success(1000, 1000), 300.0, 700.0 * 0.3 * 1000.0},
        {Success(2000, 1000), 810.0, 1190.0 * 0.3 * 1700.0 + 0.7 * 210000.0},
        {Sample(http::State::Timeout, 0, 5000), 567.0,
         -567.0 * 0.3 * -810.0 + 0.7 * (1190.0 * 0.3 * 1700.0 + 0.7 * 210000.0)},
    };
    std::uint32_t count = 0;
    for (const Step& step : steps) {
        statistics.AddSample(step.sample);
        ++count;
        const auto [mean, variance] = statistics.GetDistribution();
        EXPECT_NEAR(mean, step.mean, 1e-9) << "after sample " << count;
        EXPECT_NEAR(variance, step.variance, 1e-6) << "after sample " << count;
        EXPECT_EQ(statistics.GetSampleCount(), count);
    }
    EXPECT_EQ(statistics.GetErrors(), 1u);
    EXPECT_EQ(statistics.GetRequestTimeouts(), 1u);
}

TEST(ExponentialNormalNodeStatisticsTest, CloneCopiesTheModelButNotTheCounters) {
    ExponentialNormalNodeStatistics prototype(0.5);
    prototype.AddSample(Success(4000, 1000));
    prototype.AddSample(Success(2000, 1000));
    const auto clone = prototype.Clone();
    EXPECT_EQ(clone->GetDistribution(), prototype.GetDistribution());
    EXPECT_EQ(clone->GetSampleCount(), 2u);
    EXPECT_EQ(clone->GetAlpha(), 0.5);
    EXPECT_EQ(clone->GetSuccesses(), 0u);
    EXPECT_EQ(clone->GetBytes(), 0u);
    // The clone learns on its own.
    clone->AddSample(Success(0, 1000));
    EXPECT_EQ(prototype.GetSampleCount(), 2u);
    EXPECT_NE(clone->GetDistribution(), prototype.GetDistribution());
}

TEST(ExponentialNormalNodeStatisticsTest, WriteUsesTheStoredVariance) {
    ExponentialNormalNodeStatistics statistics(0.5);
    statistics.AddSample(Success(2000, 1000));
    // m' = 1000, v' = (2000 - 1000) 0.5 (2000 - 0) = 1,000,000: deviation 1000.
    boost::property_tree::ptree tree;
    statistics.Write(tree);
    EXPECT_EQ(tree.get<std::string>("Average Request Speed"), "1000");
    EXPECT_EQ(tree.get<std::string>("Standard Deviation"), "1000");
}

}  // namespace
}  // namespace vrexa
