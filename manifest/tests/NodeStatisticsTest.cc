#include "manifest/NodeStatistics.h"

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vrexa {
namespace {

using http::State;

http::RequestStatus Sample(State state, std::uint64_t bytes, std::uint32_t firstByteMs, std::uint32_t totalMs) {
    http::RequestStatus status;
    status.state = state;
    status.bytes = bytes;
    status.firstByteTimeMs = firstByteMs;
    status.totalTimeMs = totalMs;
    return status;
}

std::map<std::string, std::string> Written(NodeStatistics& statistics) {
    boost::property_tree::ptree tree;
    statistics.Write(tree);
    std::map<std::string, std::string> keys;
    for (const auto& [key, child] : tree)
        keys[key] = child.data();
    return keys;
}

TEST(NodeStatistics, ClassifiesEveryStateIntoOneCounter) {
    struct Expected {
        bool error;
        // Which kind counter moves: 0 none, 1 connect, 2 server, 3 reset, 4 mismatch, 5 timeout.
        int kind;
    };
    const std::map<State, Expected> table = {
        {State::Ready, {false, 0}},        {State::Running, {false, 0}},       {State::Succeeded, {false, 0}},
        {State::Aborted, {false, 0}},      {State::InvalidRequest, {true, 0}}, {State::ResolveError, {true, 0}},
        {State::ConnectError, {true, 1}},  {State::ClientError, {true, 0}},    {State::ServerError, {true, 2}},
        {State::TransmitError, {true, 3}}, {State::WriteError, {true, 0}},     {State::RangeError, {true, 4}},
        {State::Timeout, {true, 5}},       {State::OutOfMemory, {true, 0}},    {State::OtherError, {true, 0}},
        {State::SecurityError, {true, 1}},
    };
    ASSERT_EQ(table.size(), 16u);
    for (const auto& [state, expected] : table) {
        NodeStatistics statistics;
        statistics.AddSample(Sample(state, 100, 5, 10));
        const int value = static_cast<int>(state);
        EXPECT_EQ(NodeStatistics::IsError(state), expected.error) << value;
        EXPECT_EQ(statistics.GetErrors(), expected.error ? 1u : 0u) << value;
        EXPECT_EQ(statistics.GetSuccesses(), expected.error ? 0u : 1u) << value;
        EXPECT_EQ(statistics.GetBytes(), 100u) << value;
        EXPECT_EQ(statistics.GetSuccessBytes(), expected.error ? 0u : 100u) << value;
        EXPECT_EQ(statistics.GetSuccessTimeMs(), expected.error ? 0u : 10u) << value;
        const std::uint32_t kinds[] = {statistics.GetConnectFailures(), statistics.GetHttpServerErrors(),
                                       statistics.GetConnectionsReset(), statistics.GetDataMismatches(),
                                       statistics.GetRequestTimeouts()};
        for (int k = 1; k <= 5; ++k) {
            EXPECT_EQ(kinds[k - 1], expected.kind == k ? 1u : 0u) << value << " kind " << k;
        }
    }
}

TEST(NodeStatistics, CountsEverySampleAtLeastOneMillisecond) {
    NodeStatistics statistics;
    statistics.AddSample(Sample(State::Succeeded, 10, 0, 0));
    statistics.AddSample(Sample(State::Timeout, 5, 0, 0));
    statistics.AddSample(Sample(State::Succeeded, 20, 30, 70));
    EXPECT_EQ(statistics.GetFirstByteTimeMs(), 1u + 1u + 30u);
    EXPECT_EQ(statistics.GetRequestTimeMs(), 1u + 1u + 70u);
    EXPECT_EQ(statistics.GetSuccessTimeMs(), 1u + 70u);
    EXPECT_EQ(statistics.GetBytes(), 35u);
    EXPECT_EQ(statistics.GetSuccessBytes(), 30u);
}

TEST(NodeStatistics, WritesRequestsErrorsBytesAndAverageSpeed) {
    NodeStatistics statistics;
    EXPECT_EQ(Written(statistics),
              (std::map<std::string, std::string>{
                  {"Requests", "0"}, {"Errors", "0"}, {"Bytes", "0"}, {"Average Request Speed", "0"}}));
    // Less than a second of success time must not divide by zero: 1000 bytes
    // in 400 ms is 2500 bytes per second.
    statistics.AddSample(Sample(State::Succeeded, 1000, 10, 400));
    statistics.AddSample(Sample(State::ServerError, 77, 10, 900));
    EXPECT_EQ(Written(statistics),
              (std::map<std::string, std::string>{
                  {"Requests", "2"}, {"Errors", "1"}, {"Bytes", "1077"}, {"Average Request Speed", "2500"}}));
}

TEST(NodeStatistics, AverageSpeedTruncatesAndSaturates) {
    NodeStatistics slow;
    slow.AddSample(Sample(State::Succeeded, 1, 1, 3));
    EXPECT_EQ(slow.GetAverageRequestSpeed(), 333u);

    NodeStatistics exact;
    exact.AddSample(Sample(State::Succeeded, 3, 1, 3));
    EXPECT_EQ(exact.GetAverageRequestSpeed(), 1000u);

    NodeStatistics huge;
    huge.AddSample(Sample(State::Succeeded, 0xFFFFFFFFFFFFFFFFull, 1, 1));
    EXPECT_EQ(huge.GetAverageRequestSpeed(), 0xFFFFFFFFFFFFFFFFull);
}

TEST(NodeStatistics, SnapshotReportsSecondsAndCounts) {
    NodeStatistics statistics;
    statistics.AddSample(Sample(State::Succeeded, 1000, 250, 1500));
    statistics.AddSample(Sample(State::ConnectError, 0, 0, 5000));
    statistics.AddSample(Sample(State::Timeout, 24, 100, 30000));
    const NodeStatisticsSnapshot snapshot = statistics.GetSnapshot("n1.test");
    EXPECT_EQ(snapshot.node, "n1.test");
    EXPECT_EQ(snapshot.bytes, 1024u);
    EXPECT_EQ(snapshot.successBytes, 1000u);
    EXPECT_DOUBLE_EQ(snapshot.firstByteTime, 0.351);
    EXPECT_DOUBLE_EQ(snapshot.requestTime, 36.5);
    EXPECT_DOUBLE_EQ(snapshot.successTime, 1.5);
    EXPECT_EQ(snapshot.numRequests, 3u);
    EXPECT_EQ(snapshot.numErrors, 2u);
    EXPECT_EQ(snapshot.numConnectFailures, 1u);
    EXPECT_EQ(snapshot.numHttpServerErrors, 0u);
    EXPECT_EQ(snapshot.numConnectionsReset, 0u);
    EXPECT_EQ(snapshot.numDataMismatches, 0u);
    EXPECT_EQ(snapshot.numRequestTimeouts, 1u);
}

TEST(NodeStatistics, LosesNoSampleAddedFromSeveralThreads) {
    NodeStatistics statistics;
    constexpr int kThreads = 4;
    constexpr int kSamples = 5000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&statistics, t] {
            const State state = t % 2 == 0 ? State::Succeeded : State::RangeError;
            for (int i = 0; i < kSamples; ++i)
                statistics.AddSample(Sample(state, 3, 1, 2));
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(statistics.GetSuccesses(), 2u * kSamples);
    EXPECT_EQ(statistics.GetErrors(), 2u * kSamples);
    EXPECT_EQ(statistics.GetDataMismatches(), 2u * kSamples);
    EXPECT_EQ(statistics.GetBytes(), 3u * kThreads * kSamples);
    EXPECT_EQ(statistics.GetRequestTimeMs(), 2u * kThreads * kSamples);
}

}  // namespace
}  // namespace vrexa
