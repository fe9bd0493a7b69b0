#include "optimizer/ProportionalGamblingTransferOptimizer.h"

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "manifest/StandardNodeManifest.h"
#include "optimizer/tests/FixedNodeList.h"

namespace vrexa {
namespace {

constexpr std::uint64_t kMiB = 1048576;

std::shared_ptr<NodeManifest> Node(const std::string& host, std::uint32_t weight = 1) {
    return std::make_shared<StandardNodeManifest>(host, host, "/packages/", weight);
}

std::shared_ptr<ChunkRange> Chunk(std::uint64_t lower, std::uint64_t upper) {
    auto chunk = std::make_shared<ChunkRange>();
    chunk->lowerBound = lower;
    chunk->upperBound = upper;
    return chunk;
}

OptimizedRequestParams Params(NodeListManifest::Nodes nodes, std::uint64_t chunkLength = kMiB) {
    return OptimizedRequestParams(std::make_shared<FixedNodeList>(std::move(nodes)), TransferParams(),
                                  Chunk(0, chunkLength - 1));
}

TransferSettings Settings(int transferThreads = 6) {
    TransferSettings settings;
    settings.transferThreads = transferThreads;
    return settings;
}

http::RequestStatus Result(http::State state, std::uint64_t bytes = 0, std::uint32_t totalTimeMs = 1000) {
    http::RequestStatus status;
    status.state = state;
    status.bytes = bytes;
    status.totalTimeMs = totalTimeMs;
    return status;
}

// Reports a successful request of `bytes` per second on `node`, as a normal
// (non-exploring) request.
void ReportSpeed(TransferOptimizer& optimizer, OptimizedRequestParams& params,
                 const std::shared_ptr<NodeManifest>& node, std::uint64_t bytesPerSecond) {
    params.SelectedNode = node;
    params.exploring = false;
    optimizer.ReportResult(params, Result(http::State::Succeeded, bytesPerSecond, 1000));
}

// Brings every node past exploration with speeds scattered around `speed`, so
// that each has a mean near it and some spread.
void Measure(TransferOptimizer& optimizer, OptimizedRequestParams& params, const std::shared_ptr<NodeManifest>& node,
             std::uint64_t speed) {
    for (std::uint64_t wobble : {95, 105, 100, 98, 102, 100}) {
        ReportSpeed(optimizer, params, node, speed * wobble / 100);
    }
}

std::map<std::string, int> CountPicks(TransferOptimizer& optimizer, OptimizedRequestParams& params, int picks) {
    std::map<std::string, int> counts;
    for (int i = 0; i < picks; ++i) {
        optimizer.GetNode(params);
        EXPECT_FALSE(params.exploring);
        ++counts[params.SelectedNode->GetHost()];
    }
    return counts;
}

TEST(ProportionalGamblingTransferOptimizerTest, EmptyCandidatesAreRejected) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 1);
    OptimizedRequestParams params = Params({Node("a.test")});
    params.candidates.clear();
    try {
        optimizer.GetNode(params);
        FAIL() << "GetNode accepted an empty candidate list";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "TransferOptimizer::GetNode received empty nodelist");
    }
    EXPECT_EQ(params.SelectedNode, nullptr);
}

TEST(ProportionalGamblingTransferOptimizerTest, RequestWithoutChunkIsRejected) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 1);
    OptimizedRequestParams params = Params({Node("a.test")});
    params.ChunkData.reset();
    EXPECT_THROW(optimizer.GetNode(params), std::invalid_argument);
    EXPECT_EQ(params.SelectedNode, nullptr);
}

TEST(ProportionalGamblingTransferOptimizerTest, SingleNodeIsAlwaysChosenWithTheNormalProfile) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(6), 1);
    const auto only = Node("only.test");
    OptimizedRequestParams params = Params({only});
    for (int i = 0; i < 5; ++i) {
        optimizer.GetNode(params);
        EXPECT_EQ(params.SelectedNode, only);
        // Fresh, yet not explored: one node needs no measuring to be chosen.
        EXPECT_FALSE(params.exploring);
        EXPECT_FALSE(params.alwaysRetry);
        EXPECT_TRUE(params.canGrowTimeouts);
        EXPECT_EQ(params.connectTimeout, 3);
        EXPECT_EQ(params.timeout, 877);
        EXPECT_EQ(params.lowSpeedLimit, 1194);
        EXPECT_EQ(params.lowSpeedTime, 5);
    }
}

struct ProfileCase {
    const char* name;
    std::uint64_t chunkLength;
    int threads;
    int rate;  // minTransferRate, or exploreMinTransferRate for exploring cases
    std::int32_t timeout;
    std::int32_t lowSpeedLimit;
};

TEST(ProportionalGamblingTransferOptimizerTest, NormalProfileScalesAndSaturates) {
    const ProfileCase cases[] = {
        {"defaults, 1 MiB, 6 threads", kMiB, 6, 7168, 877, 1194},
        {"small chunk gets the least timeout", 1000, 6, 7168, 10, 1194},
        {"no rate: the volume is the timeout", kMiB, 6, 0, 6291456, 1},
        {"negative rate", kMiB, 6, -5, 6291456, 1},
        {"no threads", kMiB, 0, 7168, 10, 7168},
        // -1 threads is 0xFFFFFFFF unsigned: the volume wraps to 2^32 - L.
        {"threads beyond the signed range", 1, -1, 7168, 599186, 1},
        {"rate above the thread count still allows 1 byte/s", kMiB, 6, 5, 1258291, 1},
        {"quotient above the signed range saturates", 0xFFFFFFFFull, 1, 1, 2147483647, 1},
        // L x N = 2^32 x ... taken modulo 2^32: a 4 GiB + 1 MiB chunk counts as 1 MiB.
        {"chunk length is taken modulo 2^32", 0x100000000ull + kMiB, 6, 7168, 877, 1194},
    };
    for (const ProfileCase& c : cases) {
        TransferSettings settings = Settings(c.threads);
        settings.minTransferRate = c.rate;
        ProportionalGamblingTransferOptimizer optimizer(settings, 1);
        OptimizedRequestParams params = Params({Node("only.test")}, c.chunkLength);
        optimizer.GetNode(params);
        EXPECT_FALSE(params.exploring) << c.name;
        EXPECT_EQ(params.timeout, c.timeout) << c.name;
        EXPECT_EQ(params.lowSpeedLimit, c.lowSpeedLimit) << c.name;
        EXPECT_EQ(params.connectTimeout, 3) << c.name;
        EXPECT_EQ(params.lowSpeedTime, 5) << c.name;
    }
}

TEST(ProportionalGamblingTransferOptimizerTest, ExploringProfileScalesAndSaturates) {
    const ProfileCase cases[] = {
        {"defaults, 1 MiB, 6 threads", kMiB, 6, 32768, 192, 5461},
        {"small chunk gets the least timeout", 1000, 6, 32768, 3, 5461},
        {"no rate", kMiB, 6, 0, 6291456, 0},
        {"no threads", kMiB, 0, 32768, 3, 0},
        {"threads beyond the signed range", 1, -1, 32768, 131071, 0},
        {"quotient above the signed range saturates", 0xFFFFFFFFull, 1, 1, 2147483647, 1},
    };
    for (const ProfileCase& c : cases) {
        TransferSettings settings = Settings(c.threads);
        settings.exploreMinTransferRate = c.rate;
        ProportionalGamblingTransferOptimizer optimizer(settings, 1);
        OptimizedRequestParams params = Params({Node("a.test"), Node("b.test")}, c.chunkLength);
        optimizer.GetNode(params);
        EXPECT_TRUE(params.exploring) << c.name;
        EXPECT_TRUE(params.alwaysRetry) << c.name;
        EXPECT_FALSE(params.canGrowTimeouts) << c.name;
        EXPECT_EQ(params.connectTimeout, 2) << c.name;
        EXPECT_EQ(params.timeout, c.timeout) << c.name;
        EXPECT_EQ(params.lowSpeedLimit, c.lowSpeedLimit) << c.name;
        EXPECT_EQ(params.lowSpeedTime, 3) << c.name;
    }
}

TEST(ProportionalGamblingTransferOptimizerTest, RateLimitLowersTheRateRequestsAreHeldTo) {
    // Under a limit every request gets only its part of it; a request is held
    // to half of that at most, or the limit itself would time requests out.
    struct Case {
        const char* name;
        std::uint64_t rateLimit;
        bool exploring;
        std::int32_t timeout;
        std::int32_t lowSpeedLimit;
    };
    const Case cases[] = {
        {"no limit", 0, false, 877, 1194},
        {"no limit, exploring", 0, true, 192, 5461},
        {"a limit far above both rates changes nothing", 10'000'000, false, 877, 1194},
        {"a limit far above both rates changes nothing, exploring", 10'000'000, true, 192, 5461},
        {"a limit between them lowers only the exploring rate", 20000, false, 877, 1194},
        {"a limit between them lowers only the exploring rate, exploring", 20000, true, 629, 1666},
        {"a low limit lowers both", 4096, false, 3072, 341},
        {"a low limit lowers both, exploring", 4096, true, 3072, 341},
        {"one byte a second still allows a byte", 1, false, 6291456, 1},
    };
    for (const Case& c : cases) {
        TransferSettings settings = Settings(6);
        settings.rateLimit = c.rateLimit;
        ProportionalGamblingTransferOptimizer optimizer(settings, 1);
        OptimizedRequestParams params =
            c.exploring ? Params({Node("a.test"), Node("b.test")}) : Params({Node("only.test")});
        optimizer.GetNode(params);
        EXPECT_EQ(params.exploring, c.exploring) << c.name;
        EXPECT_EQ(params.timeout, c.timeout) << c.name;
        EXPECT_EQ(params.lowSpeedLimit, c.lowSpeedLimit) << c.name;
    }
}

TEST(ProportionalGamblingTransferOptimizerTest, ExploresOnlyNodesMeasuredFewerThanTwice) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 7);
    const auto a = Node("a.test");
    const auto b = Node("b.test");
    const auto c = Node("c.test");
    OptimizedRequestParams params = Params({a, b, c});

    std::map<std::string, int> fresh;
    for (int i = 0; i < 60; ++i) {
        optimizer.GetNode(params);
        EXPECT_TRUE(params.exploring);
        ++fresh[params.SelectedNode->GetHost()];
    }
    EXPECT_EQ(fresh.size(), 3u) << "every fresh node is explored";

    // Two reports take a node out of exploration; one is not enough.
    params.SelectedNode = a;
    params.exploring = true;
    optimizer.UpdateStatistics(params, Result(http::State::Succeeded, 1000));
    optimizer.UpdateStatistics(params, Result(http::State::Succeeded, 1000));
    params.SelectedNode = b;
    optimizer.UpdateStatistics(params, Result(http::State::Succeeded, 1000));
    std::map<std::string, int> rest;
    for (int i = 0; i < 60; ++i) {
        optimizer.GetNode(params);
        EXPECT_TRUE(params.exploring);
        ++rest[params.SelectedNode->GetHost()];
    }
    // The node measured once is finished before the fresh one is begun.
    EXPECT_EQ(rest.count("a.test"), 0u);
    EXPECT_EQ(rest["b.test"], 60);
    EXPECT_EQ(rest.count("c.test"), 0u);

    // Failures count as measurements too.
    params.SelectedNode = b;
    optimizer.UpdateStatistics(params, Result(http::State::ConnectError));
    params.SelectedNode = c;
    optimizer.UpdateStatistics(params, Result(http::State::Timeout));
    optimizer.UpdateStatistics(params, Result(http::State::Succeeded, 1000));
    optimizer.GetNode(params);
    EXPECT_FALSE(params.exploring);
    EXPECT_FALSE(params.alwaysRetry);
}

TEST(ProportionalGamblingTransferOptimizerTest, OnceTwoNodesAreMeasuredAFreshNodeBetsAsTheirAverage) {
    // A fresh node is no longer tried before everything else: it is chosen
    // about as often as a node of the measured nodes' average speed would be,
    // and then with the exploring profile.
    std::map<std::string, int> counts;
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        ProportionalGamblingTransferOptimizer optimizer(Settings(), seed);
        const auto fast = Node("fast.test");
        const auto slow = Node("slow.test");
        const auto fresh = Node("fresh.test");
        OptimizedRequestParams params = Params({slow, fresh, fast});
        Measure(optimizer, params, fast, 4 * kMiB);
        Measure(optimizer, params, slow, kMiB);
        for (int i = 0; i < 50; ++i) {
            optimizer.GetNode(params);
            const bool isFresh = params.SelectedNode == fresh;
            EXPECT_EQ(params.exploring, isFresh);
            EXPECT_EQ(params.alwaysRetry, isFresh);
            ++counts[params.SelectedNode->GetHost()];
        }
    }
    EXPECT_GT(counts["fresh.test"], 0);
    EXPECT_GT(counts["fast.test"], counts["fresh.test"]);
    EXPECT_GT(counts["fresh.test"], counts["slow.test"]);
}

TEST(ProportionalGamblingTransferOptimizerTest, MeasurablyFasterNodeIsChosenMoreOften) {
    struct Case {
        const char* name;
        std::uint64_t fastSpeed;
        std::uint64_t slowSpeed;
        double fastAtLeast;  // share of the picks the fast node must reach
    };
    const Case cases[] = {
        // Far apart: the fast node wins nearly every simulated round, and the
        // slow one keeps only about its floor.
        {"four times faster", 4 * kMiB, kMiB, 0.90},
        // Overlapping spreads: still a clear majority.
        {"a fifth faster", 6 * kMiB / 5, kMiB, 0.60},
    };
    for (const Case& c : cases) {
        int fast = 0;
        int slow = 0;
        // Many seeds, so the result does not hang on one lucky stream.
        for (std::uint32_t seed = 1; seed <= 20; ++seed) {
            ProportionalGamblingTransferOptimizer optimizer(Settings(), seed);
            const auto fastNode = Node("fast.test");
            const auto slowNode = Node("slow.test");
            // The slow node first: the simulation's tie rule favours position 0.
            OptimizedRequestParams params = Params({slowNode, fastNode});
            Measure(optimizer, params, fastNode, c.fastSpeed);
            Measure(optimizer, params, slowNode, c.slowSpeed);
            auto counts = CountPicks(optimizer, params, 100);
            fast += counts["fast.test"];
            slow += counts["slow.test"];
        }
        const double total = fast + slow;
        EXPECT_GE(fast / total, c.fastAtLeast) << c.name << ": fast " << fast << ", slow " << slow;
        // The floor keeps the slow node measured now and then.
        EXPECT_GT(slow, 0) << c.name;
    }
}

TEST(ProportionalGamblingTransferOptimizerTest, WeightZeroNodeGetsOnlyItsFloorShare) {
    int counts[3] = {0, 0, 0};
    const int picks = 200;
    const int seeds = 10;
    for (std::uint32_t seed = 1; seed <= seeds; ++seed) {
        ProportionalGamblingTransferOptimizer optimizer(Settings(), seed);
        const auto nodes = NodeListManifest::Nodes{Node("zero.test", 0), Node("a.test", 1), Node("b.test", 1)};
        OptimizedRequestParams params = Params(nodes);
        for (const auto& node : nodes) {
            Measure(optimizer, params, node, kMiB);
        }
        auto picked = CountPicks(optimizer, params, picks);
        counts[0] += picked["zero.test"];
        counts[1] += picked["a.test"];
        counts[2] += picked["b.test"];
    }
    // Equally fast nodes: the weightless one gets no share of its own, only the
    // floor (0.05 / 1.05 of the picks, about 95 of 2000).
    const double total = picks * seeds;
    EXPECT_GT(counts[0], 0);
    EXPECT_LT(counts[0] / total, 0.08);
    EXPECT_GT(counts[1] / total, 0.35);
    EXPECT_GT(counts[2] / total, 0.35);
}

TEST(ProportionalGamblingTransferOptimizerTest, SameSeedAndHistoryGiveTheSameChoices) {
    std::vector<std::string> runs[2];
    for (auto& run : runs) {
        ProportionalGamblingTransferOptimizer optimizer(Settings(), 1234);
        const auto nodes = NodeListManifest::Nodes{Node("a.test"), Node("b.test"), Node("c.test", 3)};
        OptimizedRequestParams params = Params(nodes);
        std::uint64_t speed = kMiB;
        for (const auto& node : nodes) {
            Measure(optimizer, params, node, speed);
            speed += kMiB / 4;
        }
        for (int i = 0; i < 50; ++i) {
            optimizer.GetNode(params);
            run.push_back(params.SelectedNode->GetHost());
        }
    }
    EXPECT_EQ(runs[0], runs[1]);
}

TEST(ProportionalGamblingTransferOptimizerTest, TimeoutsDoubleAfterTimeoutAndShrinkAfterSuccesses) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 1);
    const auto node = Node("only.test");
    OptimizedRequestParams params = Params({node});
    const auto current = [&] {
        OptimizedRequestParams next = Params({node});
        optimizer.GetNode(next);
        return std::make_pair(next.connectTimeout, next.lowSpeedTime);
    };
    optimizer.GetNode(params);
    optimizer.ReportResult(params, Result(http::State::Timeout));
    EXPECT_EQ(current(), std::make_pair(6, 10));

    const std::pair<int, int> afterSuccesses[] = {{5, 9}, {4, 8}, {3, 7}, {3, 6}, {3, 5}, {3, 5}};
    for (const auto& expected : afterSuccesses) {
        optimizer.ReportResult(params, Result(http::State::Succeeded, 1000));
        EXPECT_EQ(current(), expected);
    }
}

TEST(ProportionalGamblingTransferOptimizerTest, TimeoutsStopAtTheirMaximaAndThenCannotGrow) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 1);
    OptimizedRequestParams params = Params({Node("only.test")});
    const std::pair<int, int> afterTimeouts[] = {{6, 10}, {12, 20}, {15, 40}, {15, 60}};
    for (const auto& expected : afterTimeouts) {
        optimizer.GetNode(params);
        EXPECT_TRUE(params.canGrowTimeouts);
        optimizer.ReportResult(params, Result(http::State::Timeout));
        optimizer.GetNode(params);
        EXPECT_EQ(std::make_pair(params.connectTimeout, params.lowSpeedTime), expected);
    }
    // Both at their maxima: a further timeout changes nothing.
    EXPECT_FALSE(params.canGrowTimeouts);
    optimizer.ReportResult(params, Result(http::State::Timeout));
    optimizer.GetNode(params);
    EXPECT_EQ(std::make_pair(params.connectTimeout, params.lowSpeedTime), std::make_pair(15, 60));
    EXPECT_FALSE(params.canGrowTimeouts);
    optimizer.ReportResult(params, Result(http::State::Succeeded, 1000));
    optimizer.GetNode(params);
    EXPECT_TRUE(params.canGrowTimeouts);
}

TEST(ProportionalGamblingTransferOptimizerTest, OnlyNormalSuccessesAndTimeoutsMoveTheTimeouts) {
    struct Case {
        const char* name;
        http::State state;
        bool exploring;
    };
    const Case cases[] = {
        {"timeout of an exploring request", http::State::Timeout, true},
        {"success of an exploring request", http::State::Succeeded, true},
        {"connect error", http::State::ConnectError, false},
        {"server error", http::State::ServerError, false},
        {"transmit error", http::State::TransmitError, false},
    };
    for (const Case& c : cases) {
        ProportionalGamblingTransferOptimizer optimizer(Settings(), 1);
        OptimizedRequestParams params = Params({Node("only.test")});
        optimizer.GetNode(params);
        // Start above the minima so that a success could be seen to shrink them.
        optimizer.ReportResult(params, Result(http::State::Timeout));
        params.exploring = c.exploring;
        optimizer.ReportResult(params, Result(c.state, 1000));
        optimizer.GetNode(params);
        EXPECT_EQ(std::make_pair(params.connectTimeout, params.lowSpeedTime), std::make_pair(6, 10)) << c.name;
    }
}

TEST(ProportionalGamblingTransferOptimizerTest, ResultsFeedThePerHostStatisticsOnly) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 1);
    const auto first = Node("shared.test");
    const auto second = Node("shared.test");  // another list's node on the same host
    const auto other = Node("other.test");
    OptimizedRequestParams params = Params({first, other});

    EXPECT_EQ(optimizer.GetStatistics(*first), optimizer.GetStatistics(*second));
    EXPECT_NE(optimizer.GetStatistics(*first), optimizer.GetStatistics(*other));

    ReportSpeed(optimizer, params, first, 1000);
    ReportSpeed(optimizer, params, second, 3000);
    params.SelectedNode = other;
    optimizer.ReportResult(params, Result(http::State::Timeout));

    const auto shared = std::dynamic_pointer_cast<NormalNodeStatistics>(optimizer.GetStatistics(*first));
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->GetSampleCount(), 2u);
    EXPECT_EQ(shared->GetBytes(), 4000u);
    // m = 0.3 * 1000 = 300, then 0.7 * 300 + 0.3 * 3000 = 1110.
    EXPECT_DOUBLE_EQ(shared->GetDistribution().first, 1110.0);
    EXPECT_EQ(optimizer.GetStatistics(*other)->GetRequestTimeouts(), 1u);
    // The nodes' own statistics are the chunk work's to feed.
    EXPECT_EQ(first->GetStatistics()->GetSuccesses(), 0u);
    EXPECT_EQ(other->GetStatistics()->GetErrors(), 0u);
}

TEST(ProportionalGamblingTransferOptimizerTest, ResultWithoutNodeIsRejectedAndChangesNothing) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 1);
    OptimizedRequestParams params = Params({Node("only.test")});
    EXPECT_THROW(optimizer.ReportResult(params, Result(http::State::Timeout)), std::invalid_argument);
    optimizer.GetNode(params);
    EXPECT_EQ(params.connectTimeout, 3);
    EXPECT_EQ(params.lowSpeedTime, 5);
}

TEST(ProportionalGamblingTransferOptimizerTest, ConcurrentChoicesAndResultsKeepEverySample) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(), 99);
    const auto nodes = NodeListManifest::Nodes{Node("a.test"), Node("b.test"), Node("c.test"), Node("d.test")};
    const auto list = std::make_shared<FixedNodeList>(nodes);
    constexpr int kThreads = 4;
    constexpr int kRequests = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            OptimizedRequestParams params(list, TransferParams(), Chunk(0, kMiB - 1));
            for (int i = 0; i < kRequests; ++i) {
                optimizer.GetNode(params);
                const bool timedOut = (i + t) % 7 == 0;
                optimizer.ReportResult(
                    params, timedOut ? Result(http::State::Timeout) : Result(http::State::Succeeded, kMiB, 900));
                params.RemoveSelectedNode();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::uint64_t samples = 0;
    for (const auto& node : nodes) {
        const auto statistics = optimizer.GetStatistics(*node);
        samples += statistics->GetSuccesses() + statistics->GetErrors();
    }
    EXPECT_EQ(samples, static_cast<std::uint64_t>(kThreads * kRequests));
}

TEST(ProportionalGamblingTransferOptimizerTest, PieceLengthAsksASlowNodeForWhatItSendsWhileTheFastestSendsAll) {
    constexpr std::uint64_t kPiece = 64 * 1024;
    const struct {
        const char* name;
        std::uint64_t remaining;
        double speed;
        double best;
        std::uint64_t minPiece;
        std::uint64_t expected;
    } cases[] = {
        {"pieces turned off", kMiB, 1.0, 100.0, 0, kMiB},
        {"no more than one piece left", kPiece, 1.0, 100.0, kPiece, kPiece},
        {"nothing known of the fastest", kMiB, 1.0, 0.0, kPiece, kMiB},
        {"an undefined mean", kMiB, std::numeric_limits<double>::quiet_NaN(), 100.0, kPiece, kMiB},
        {"the fastest itself", kMiB, 100.0, 100.0, kPiece, kMiB},
        {"half as fast", kMiB, 50.0, 100.0, kPiece, kMiB},
        {"slow but done in a fifth of a second", kMiB, 5.0 * kMiB, 100.0 * kMiB, kPiece, kMiB},
        {"slow and busy for half a second", kMiB, 2.0 * kMiB, 100.0 * kMiB, kPiece, kPiece},
        {"a quarter as fast", kMiB, 25.0, 100.0, kPiece, kMiB / 4},
        {"just under half, rounded up to whole pieces", kMiB, 49.0, 100.0, kPiece, kMiB / 2},
        {"a hundred times slower: one piece", kMiB, 1.0, 100.0, kPiece, kPiece},
        {"no success in its mean: one piece", kMiB, 0.0, 100.0, kPiece, kPiece},
        {"a rest under one piece goes with it", kPiece + kPiece / 2, 1.0, 100.0, kPiece, kPiece + kPiece / 2},
        {"the last part of a chunk", 3 * kPiece, 1.0, 100.0, kPiece, kPiece},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProportionalGamblingTransferOptimizer::PieceLength(c.remaining, c.speed, c.best, c.minPiece),
                  c.expected)
            << c.name;
    }
}

TEST(ProportionalGamblingTransferOptimizerTest, InFlightAllowanceIsTheNodesShareOfTheParallelRequests) {
    const struct {
        const char* name;
        double speed;
        double sum;
        int parallel;
        std::uint32_t expected;
    } cases[] = {
        {"nothing measured yet", 0.0, 0.0, 16, 0},
        {"no parallel requests", 1.0, 2.0, 0, 0},
        {"an undefined sum", 1.0, std::numeric_limits<double>::infinity(), 16, 0},
        {"a fiftieth of the speed", 1.0, 50.0, 16, 1},
        {"no success in its mean", 0.0, 50.0, 16, 1},
        {"a quarter", 1.0, 4.0, 16, 4},
        {"rounded up", 1.0, 3.0, 16, 6},
        {"all of it", 5.0, 5.0, 16, 16},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProportionalGamblingTransferOptimizer::InFlightAllowance(c.speed, c.sum, c.parallel), c.expected)
            << c.name;
    }
}

// Two measured nodes, the slow one at a hundredth of the fast one's speed and
// a floor that makes draws of it common.
struct UnequalNodes {
    explicit UnequalNodes(std::uint32_t seed, int parallel = 4) : optimizer(FloorSettings(parallel), seed) {
        OptimizedRequestParams params = Params({slow, fast});
        Measure(optimizer, params, fast, 100 * kMiB);
        Measure(optimizer, params, slow, kMiB);
    }
    static TransferSettings FloorSettings(int parallel) {
        TransferSettings settings = Settings(parallel);
        settings.parallelItems = parallel;
        settings.minNodeShare = 0.8;
        return settings;
    }
    ProportionalGamblingTransferOptimizer optimizer;
    std::shared_ptr<NodeManifest> fast = Node("fast.test");
    std::shared_ptr<NodeManifest> slow = Node("slow.test");
};

TEST(ProportionalGamblingTransferOptimizerTest, ASlowNodeIsAskedForAPieceAndTheFastOneForTheWholeRest) {
    UnequalNodes nodes(7);
    int slowPicks = 0;
    for (int i = 0; i < 200; ++i) {
        OptimizedRequestParams params = Params({nodes.slow, nodes.fast});
        params.received = 3 * 64 * 1024;
        nodes.optimizer.GetNode(params);
        if (params.SelectedNode == nodes.fast) {
            EXPECT_EQ(params.requestLength, params.Remaining());
        } else {
            ++slowPicks;
            EXPECT_EQ(params.requestLength, 64u * 1024u);
        }
        // Each node keeps its speed.
        nodes.optimizer.ReportResult(
            params, Result(http::State::Succeeded, params.SelectedNode == nodes.fast ? 100 * kMiB : kMiB));
    }
    // The floor, not the piece size, decides how often the slow node is asked.
    EXPECT_GT(slowPicks, 40);
}

TEST(ProportionalGamblingTransferOptimizerTest, ASlowNodeServingItsShareOfRequestsIsPassedOver) {
    UnequalNodes nodes(11);
    // Requests chosen and not yet reported stay in flight.
    std::vector<OptimizedRequestParams> inFlight;
    for (int i = 0; i < 12; ++i) {
        inFlight.push_back(Params({nodes.slow, nodes.fast}));
        nodes.optimizer.GetNode(inFlight.back());
    }
    const auto onSlow = [&] {
        return std::count_if(inFlight.begin(), inFlight.end(),
                             [&](const OptimizedRequestParams& p) { return p.SelectedNode == nodes.slow; });
    };
    // A hundredth of the speed is a share of one request of the four.
    EXPECT_EQ(onSlow(), 1);

    // Once its request is reported, the slow node may be drawn again; a
    // request released without a result frees its place the same way.
    for (auto& params : inFlight) {
        if (params.SelectedNode == nodes.slow) {
            nodes.optimizer.ReleaseNode(params);
        }
    }
    int again = 0;
    for (int i = 0; i < 50 && again == 0; ++i) {
        OptimizedRequestParams params = Params({nodes.slow, nodes.fast});
        nodes.optimizer.GetNode(params);
        again += params.SelectedNode == nodes.slow;
        nodes.optimizer.ReportResult(params, Result(http::State::Succeeded, kMiB));
    }
    EXPECT_EQ(again, 1);
}

TEST(ProportionalGamblingTransferOptimizerTest, RequestsInFlightOnAnUnmeasuredNodeCountAsItsMeasurements) {
    ProportionalGamblingTransferOptimizer optimizer(Settings(16), 3);
    const auto a = Node("a.test");
    const auto b = Node("b.test");
    std::vector<OptimizedRequestParams> inFlight;
    const auto choose = [&] {
        inFlight.push_back(Params({a, b}));
        optimizer.GetNode(inFlight.back());
        return &inFlight.back();
    };
    std::map<std::string, int> exploring;
    for (int i = 0; i < 4; ++i) {
        const OptimizedRequestParams* params = choose();
        EXPECT_TRUE(params->exploring);
        // A node of unknown speed is measured on a piece.
        EXPECT_EQ(params->requestLength, 64u * 1024u);
        ++exploring[params->SelectedNode->GetHost()];
    }
    // Two measurements under way on each node before either is measured again.
    EXPECT_EQ(exploring, (std::map<std::string, int>{{"a.test", 2}, {"b.test", 2}}));
    // With nothing measured yet, a request can only measure once more.
    EXPECT_TRUE(choose()->exploring);

    // Once a is measured, the requests are bets on it while b's measurements
    // are still under way, not more measurements of a node that may be the
    // slowest.
    OptimizedRequestParams report = Params({a, b});
    Measure(optimizer, report, a, kMiB);
    for (int i = 0; i < 20; ++i) {
        const OptimizedRequestParams* params = choose();
        EXPECT_FALSE(params->exploring);
        EXPECT_EQ(params->SelectedNode, a);
    }
}

TEST(OptimizedRequestParamsTest, RetriesGoToEveryNodeOnceBeforeAnyAgain) {
    const auto a = Node("a.test");
    const auto b = Node("b.test");
    const auto c = Node("c.test");
    OptimizedRequestParams params = Params({a, b, c});
    EXPECT_EQ(params.candidates, (NodeListManifest::Nodes{a, b, c}));
    params.SelectedNode = b;
    params.RemoveSelectedNode();
    EXPECT_EQ(params.candidates, (NodeListManifest::Nodes{a, c}));
    params.SelectedNode = a;
    params.RemoveSelectedNode();
    EXPECT_EQ(params.candidates, (NodeListManifest::Nodes{c}));
    params.SelectedNode = c;
    params.RemoveSelectedNode();
    EXPECT_EQ(params.candidates, (NodeListManifest::Nodes{a, b, c}));
}

// The base optimizer learns into the nodes' own statistics.
class OwnStatisticsOptimizer : public TransferOptimizer {
public:
    using TransferOptimizer::TransferOptimizer;
    void GetNode(OptimizedRequestParams& params) override { params.SelectedNode = params.candidates.front(); }
    void ReportResult(const OptimizedRequestParams& params, const http::RequestStatus& status) override {
        UpdateStatistics(params, status);
    }
};

TEST(TransferOptimizerTest, BaseStatisticsAreTheNodesOwn) {
    OwnStatisticsOptimizer optimizer(Settings());
    const auto node = Node("a.test");
    OptimizedRequestParams params = Params({node});
    EXPECT_EQ(optimizer.GetStatistics(*node), node->GetStatistics());
    EXPECT_THROW(optimizer.UpdateStatistics(params, Result(http::State::Succeeded)), std::invalid_argument);
    optimizer.GetNode(params);
    optimizer.ReportResult(params, Result(http::State::RangeError, 10));
    EXPECT_EQ(node->GetStatistics()->GetDataMismatches(), 1u);
}

}  // namespace
}  // namespace vrexa
