#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "analytics/EventAnalyticsRequest.h"
#include "analytics/JsonWriter.h"
#include "analytics/TransferAnalyticsRequest.h"
#include "transfer/TransferParams.h"
#include "transfer/tests/SampleParams.h"

namespace vrexa {
namespace {

using testing::SampleParams;

std::string Document(OutputManifest& request) {
    boost::property_tree::ptree tree;
    request.Write(tree);
    return ToJson(tree);
}

const std::string kHead = R"({"pid":"N7","pkgid":"P1","vid":"42","vrexav":"1.3.4","osv":"Linux Test 1",)";

TEST(EventAnalyticsRequestTest, SimpleRequestCountsMetricWithEmptyDimensions) {
    SimpleEventAnalyticsRequest request(SampleParams(), "Linux Test 1", "numPauses");
    EXPECT_EQ(Document(request), kHead + R"("metrics":{"numPauses":"1"},"dimensions":{}})" + "\n");
}

TEST(EventAnalyticsRequestTest, ErrorRequestCarriesSummaryOnlyWhenThereIsOne) {
    ErrorAnalyticsRequest withText(SampleParams(), "Linux Test 1", "numFatalErrors", "error|2|libcurl error 7");
    EXPECT_EQ(Document(withText), kHead + R"("metrics":{"numFatalErrors":"1"},)" +
                                      R"("dimensions":{"error":"error|2|libcurl error 7"}})" + "\n");

    ErrorAnalyticsRequest empty(SampleParams(), "Linux Test 1", "numFatalErrors", "");
    EXPECT_EQ(Document(empty), kHead + R"("metrics":{"numFatalErrors":"1"},"dimensions":{}})" + "\n");
}

TEST(EventAnalyticsRequestTest, OptimizerRequestListsEveryCounterInOrderWithNodeAsCdn) {
    NodeStatisticsSnapshot snapshot;
    snapshot.node = "node-a.example";
    snapshot.bytes = 5000000000ull;
    snapshot.successBytes = 4000000000ull;
    snapshot.firstByteTime = 0.25;
    snapshot.requestTime = 12.5;
    snapshot.successTime = 1.0 / 3.0;
    snapshot.numRequests = 9;
    snapshot.numErrors = 8;
    snapshot.numConnectFailures = 1;
    snapshot.numHttpServerErrors = 2;
    snapshot.numConnectionsReset = 3;
    snapshot.numDataMismatches = 4;
    snapshot.numRequestTimeouts = 5;
    OptimizerAnalyticsRequest request(SampleParams(), "Linux Test 1", snapshot);
    EXPECT_EQ(Document(request),
              kHead +
                  R"("metrics":{"bytes":"5000000000","successBytes":"4000000000","firstByteTime":"0.25",)"
                  R"("requestTime":"12.5","successTime":"0.3333333333333333","numRequests":"9","numErrors":"8",)"
                  R"("numConnectFailures":"1","numHttpServerErrors":"2","numConnectionsReset":"3",)"
                  R"("numDataMismatches":"4","numRequestTimeouts":"5"},"dimensions":{"cdn":"node-a.example"}})" +
                  "\n");
}

TEST(EventAnalyticsRequestTest, IdentifiersAreEscapedLikeEveryValue) {
    TransferParams params = SampleParams();
    params.packageId = "a/b\xC3\xA9";
    SimpleEventAnalyticsRequest request(params, "Linux \"x\"", "numStarts");
    EXPECT_EQ(Document(request), R"({"pid":"N7","pkgid":"a\/b\u00C3\u00A9","vid":"42","vrexav":"1.3.4",)"
                                 R"("osv":"Linux \"x\"","metrics":{"numStarts":"1"},"dimensions":{}})"
                                 "\n");
}

struct StatusCase {
    TransferState state;
    const char* status;
};

class TransferAnalyticsStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(TransferAnalyticsStatusTest, NamesStateAsStatus) {
    TransferAnalyticsRequest request(SampleParams(), "Linux Test 1", GetParam().state, 1048576, 2500);
    EXPECT_EQ(Document(request),
              std::string(R"({"pid":"N7","pkgid":"P1","vid":"42","tid":"0123456789abcdef0123456789abcdef",)") +
                  R"("vrexav":"1.3.4","osv":"Linux Test 1","status":")" + GetParam().status +
                  R"(","transferBytes":"1048576","duration":"2.5"})" + "\n");
}

INSTANTIATE_TEST_SUITE_P(States, TransferAnalyticsStatusTest,
                         ::testing::Values(StatusCase{TransferState::None, "active"},
                                           StatusCase{TransferState::Initializing, "active"},
                                           StatusCase{TransferState::InitializePaused, "active"},
                                           StatusCase{TransferState::Initialized, "active"},
                                           StatusCase{TransferState::Transferring, "active"},
                                           StatusCase{TransferState::Paused, "active"},
                                           StatusCase{TransferState::Suspended, "suspended"},
                                           StatusCase{TransferState::Complete, "completed"},
                                           StatusCase{TransferState::Cancelled, "canceled"}));

struct DurationCase {
    std::uint64_t milliseconds;
    const char* seconds;
};

class TransferAnalyticsDurationTest : public ::testing::TestWithParam<DurationCase> {};

TEST_P(TransferAnalyticsDurationTest, WritesDurationInSeconds) {
    TransferAnalyticsRequest request(SampleParams(), "", TransferState::Transferring, UINT64_MAX,
                                     GetParam().milliseconds);
    boost::property_tree::ptree tree;
    request.Write(tree);
    EXPECT_EQ(tree.get<std::string>("duration"), GetParam().seconds);
    EXPECT_EQ(tree.get<std::string>("transferBytes"), "18446744073709551615");
}

INSTANTIATE_TEST_SUITE_P(Durations, TransferAnalyticsDurationTest,
                         ::testing::Values(DurationCase{0, "0"}, DurationCase{1, "0.001"}, DurationCase{300000, "300"},
                                           DurationCase{123456789, "123456.789"}));

}  // namespace
}  // namespace vrexa
