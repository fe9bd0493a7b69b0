#include <ostream>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "analytics/JsonWorkLogManager.h"
#include "analytics/NullAnalyticsManager.h"
#include "analytics/TransferCallEvent.h"
#include "analytics/TransferEvent.h"
#include "analytics/tests/AnalyticsTestSupport.h"
#include "http/RequestStatus.h"
#include "manifest/NodeStatistics.h"
#include "manifest/StandardNodeListManifest.h"
#include "transfer/tests/SampleParams.h"
#include "work/WorkStatus.h"

namespace vrexa {
namespace {

using boost::property_tree::ptree;
using testing::AnalyticsEndpoints;
using testing::TempFolderFilesystem;
using testing::TestFolder;

// Analytics documents go only to an analytics manager: a log manager (also an
// event manager) in that place would write every document into the log.
static_assert(std::is_assignable_v<decltype((std::declval<TransferBehavior&>().eventManager)), AnalyticsManager*>);
static_assert(!std::is_assignable_v<decltype((std::declval<TransferBehavior&>().eventManager)), LogManager*>);

const char* const kOs = "Linux Test 12";
const std::string kParamsRecord =
    R"("params":{"transferId":"0123456789abcdef0123456789abcdef","partnerId":"N7","packageId":"P1",)"
    R"("versionId":"42","destPath":"\/data\/demo"})";
const std::string kHead = R"({"pid":"N7","pkgid":"P1","vid":"42","vrexav":"1.3.4","osv":"Linux Test 12",)";
const std::string kTransferHead =
    R"({"pid":"N7","pkgid":"P1","vid":"42","tid":"0123456789abcdef0123456789abcdef","vrexav":"1.3.4",)"
    R"("osv":"Linux Test 12",)";

std::shared_ptr<const NodeListManifest> NodeList(const std::vector<std::string>& hosts) {
    ptree document;
    ptree& nodes = document.put_child("ArrayOfNodeInfo", ptree());
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        ptree node;
        node.put("NodeId", "n" + std::to_string(i));
        node.put("Host", hosts[i]);
        nodes.push_back(ptree::value_type("NodeInfo", node));
    }
    auto list = std::make_shared<StandardNodeListManifest>();
    list->Read(document);
    return list;
}

// A transfer's surroundings: both analytics endpoints, a log folder, and the
// managers reached through the behaviour. Destroying the managers (Finish)
// sends and writes everything raised, so a test can look for what is absent.
class TransferEventTest : public ::testing::Test {
protected:
    TransferEventTest() : filesystem_(temp_.Path()), params_(testing::SampleParams()) {
        analytics_ = endpoints_.MakeManager();
        log_ = std::make_unique<JsonWorkLogManager>(kDefaultLogMask, "logs", &filesystem_);
        behavior_.eventManager = analytics_.get();
        behavior_.logManager = log_.get();
    }

    TransferEventCapture Capture(TransferState state = TransferState::Transferring, std::uint64_t bytes = 0,
                                 std::uint64_t ms = 0) {
        TransferEventCapture capture;
        capture.nodeList = nodeList_;
        capture.osVersion = kOs;
        capture.state = state;
        capture.downloadedDelta = bytes;
        capture.activeTimeDelta = ms;
        return capture;
    }

    void Finish() {
        analytics_.reset();
        log_.reset();
    }

    std::vector<std::string> LogRecords() {
        const auto names = testing::FileNames(temp_ / "logs");
        if (names.size() != 1) return {};
        return testing::Records(testing::Lines(temp_ / ("logs/" + names[0])));
    }

    static std::vector<std::string> Sorted(std::vector<std::string> values) {
        std::sort(values.begin(), values.end());
        return values;
    }

    TestFolder temp_;
    TempFolderFilesystem filesystem_;
    AnalyticsEndpoints endpoints_;
    TransferParams params_;
    TransferBehavior behavior_;
    std::shared_ptr<const NodeListManifest> nodeList_;
    std::unique_ptr<JsonHttpAnalyticsManager> analytics_;
    std::unique_ptr<JsonWorkLogManager> log_;
};

TEST_F(TransferEventTest, PauseWritesOneRecordAndPostsOneDocumentToEventsEndpoint) {
    TransferPauseEvent(params_, behavior_, Capture()).Raise();
    Finish();

    const auto requests = endpoints_.events.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].body, kHead + R"("metrics":{"numPauses":"1"},"dimensions":{}})" + "\n");
    EXPECT_TRUE(endpoints_.transfer.Requests().empty());
    EXPECT_EQ(LogRecords(), std::vector<std::string>{R"({"event":"Pause",)" + kParamsRecord + "}"});
}

// What each kind of event sends, with a two-node list and some progress.
struct EventCase {
    const char* name;
    std::function<std::unique_ptr<TransferEvent>(const TransferParams&, const TransferBehavior&, TransferEventCapture)>
        make;
    const char* eventName;
    // The events document: a single counted object, or an array whose first
    // element counts the event ("" when the array holds only node reports).
    const char* metric;
    bool batch;
    bool transferDocument;
};

// Cases print as their names, so test listings stay short and stable.
void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }

template <class Event>
std::unique_ptr<TransferEvent> Make(const TransferParams& params, const TransferBehavior& behavior,
                                    TransferEventCapture capture) {
    return std::make_unique<Event>(params, behavior, std::move(capture));
}

std::unique_ptr<TransferEvent> MakeFatal(const TransferParams& params, const TransferBehavior& behavior,
                                         TransferEventCapture capture) {
    WorkErrorData data("disk gone");
    return std::make_unique<TransferFatalErrorEvent>(params, behavior, std::move(capture), &data);
}

std::unique_ptr<TransferEvent> MakeRetryable(const TransferParams& params, const TransferBehavior& behavior,
                                             TransferEventCapture capture) {
    WorkErrorData data("disk gone");
    return std::make_unique<TransferRetryableErrorEvent>(params, behavior, std::move(capture), &data);
}

class TransferEventKindTest : public TransferEventTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(TransferEventKindTest, SendsTheDocumentsOfItsKind) {
    const EventCase& c = GetParam();
    nodeList_ = NodeList({"a.example", "b.example"});
    c.make(params_, behavior_, Capture(TransferState::Transferring, 2048, 1500))->Raise();
    Finish();

    EXPECT_EQ(LogRecords(),
              std::vector<std::string>{std::string(R"({"event":")") + c.eventName + "\"," + kParamsRecord + "}"});

    const auto transferBodies = AnalyticsEndpoints::Bodies(endpoints_.transfer);
    if (c.transferDocument) {
        EXPECT_EQ(transferBodies, std::vector<std::string>{kTransferHead +
                                                           R"("status":"active","transferBytes":"2048",)"
                                                           R"("duration":"1.5"})" +
                                                           "\n"});
    } else {
        EXPECT_TRUE(transferBodies.empty());
    }

    const auto eventBodies = AnalyticsEndpoints::Bodies(endpoints_.events);
    ASSERT_EQ(eventBodies.size(), 1u);
    const std::string zeroNode = R"("metrics":{"bytes":"0","successBytes":"0","firstByteTime":"0",)"
                                 R"("requestTime":"0","successTime":"0","numRequests":"0","numErrors":"0",)"
                                 R"("numConnectFailures":"0","numHttpServerErrors":"0","numConnectionsReset":"0",)"
                                 R"("numDataMismatches":"0","numRequestTimeouts":"0"},)";
    const std::string nodes = kHead + zeroNode + R"("dimensions":{"cdn":"a.example"}},)" + kHead + zeroNode +
                              R"("dimensions":{"cdn":"b.example"}})";
    std::string counted;
    if (std::string(c.metric).empty()) {
        counted = "";
    } else {
        const bool error = std::string(c.eventName).find("Error") != std::string::npos;
        counted = kHead + R"("metrics":{")" + c.metric + R"(":"1"},"dimensions":)" +
                  (error ? R"({"error":"disk gone"})" : "{}") + "}";
    }
    if (c.batch) {
        EXPECT_EQ(eventBodies[0], "[" + counted + (counted.empty() ? "" : ",") + nodes + "]\n");
    } else {
        EXPECT_EQ(eventBodies[0], counted + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Events, TransferEventKindTest,
    ::testing::Values(EventCase{"Initialize", Make<TransferInitializeEvent>, "Initialize", "numInitializes", false,
                                false},
                      EventCase{"InitializeComplete", Make<TransferInitializeCompleteEvent>, "InitializeComplete",
                                "numInitializeCompletes", false, false},
                      EventCase{"Pause", Make<TransferPauseEvent>, "Pause", "numPauses", false, false},
                      EventCase{"Resume", Make<TransferResumeEvent>, "Resume", "numResumes", false, false},
                      EventCase{"Retry", Make<TransferRetryEvent>, "Retry", "numRetries", false, false},
                      EventCase{"Start", Make<TransferStartEvent>, "Start", "numStarts", false, true},
                      EventCase{"Restore", Make<TransferRestoreEvent>, "Restore", "numRestores", false, true},
                      EventCase{"Cancel", Make<TransferCancelEvent>, "Cancel", "numCancels", true, true},
                      EventCase{"Suspend", Make<TransferSuspendEvent>, "Suspend", "numSuspends", true, true},
                      EventCase{"Complete", Make<TransferCompleteEvent>, "Complete", "numCompletes", true, true},
                      EventCase{"RetryableError", MakeRetryable, "RetryableError", "numRetryableErrors", true, true},
                      EventCase{"FatalError", MakeFatal, "FatalError", "numFatalErrors", true, true},
                      EventCase{"Periodic", Make<TransferPeriodicEvent>, "PeriodicUpdate", "", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferEventTest, TransferDocumentNamesTheCapturedState) {
    TransferCompleteEvent(params_, behavior_, Capture(TransferState::Complete, 10, 20)).Raise();
    TransferCancelEvent(params_, behavior_, Capture(TransferState::Cancelled, 0, 0)).Raise();
    TransferSuspendEvent(params_, behavior_, Capture(TransferState::Suspended, 0, 1)).Raise();
    Finish();
    EXPECT_EQ(Sorted(AnalyticsEndpoints::Bodies(endpoints_.transfer)),
              Sorted({kTransferHead + R"("status":"completed","transferBytes":"10","duration":"0.02"})" + "\n",
                      kTransferHead + R"("status":"canceled","transferBytes":"0","duration":"0"})" + "\n",
                      kTransferHead + R"("status":"suspended","transferBytes":"0","duration":"0.001"})" + "\n"}));
}

struct ErrorDeltaCase {
    std::uint64_t bytes;
    std::uint64_t ms;
    bool transferDocument;
};

class TransferErrorDeltaTest : public TransferEventTest, public ::testing::WithParamInterface<ErrorDeltaCase> {};

TEST_P(TransferErrorDeltaTest, ReportsProgressOnlyWhenThereWasAny) {
    WorkErrorData data("boom");
    TransferFatalErrorEvent(params_, behavior_, Capture(TransferState::Transferring, GetParam().bytes, GetParam().ms),
                            &data)
        .Raise();
    Finish();
    EXPECT_EQ(endpoints_.transfer.Requests().size(), GetParam().transferDocument ? 1u : 0u);
    EXPECT_EQ(AnalyticsEndpoints::Bodies(endpoints_.events),
              std::vector<std::string>{"[" + kHead + R"("metrics":{"numFatalErrors":"1"},)" +
                                       R"("dimensions":{"error":"boom"}}])" + "\n"});
}

INSTANTIATE_TEST_SUITE_P(Deltas, TransferErrorDeltaTest,
                         ::testing::Values(ErrorDeltaCase{0, 0, false}, ErrorDeltaCase{1, 0, true},
                                           ErrorDeltaCase{0, 1, true}));

TEST_F(TransferEventTest, ErrorWithEmptySummaryHasEmptyDimensions) {
    WorkErrorData empty("");
    TransferRetryableErrorEvent(params_, behavior_, Capture(), &empty).Raise();
    TransferFatalErrorEvent(params_, behavior_, Capture(), nullptr).Raise();
    Finish();
    const std::string body = "[" + kHead + R"("metrics":{"numRetryableErrors":"1"},"dimensions":{}}])" + "\n";
    const std::string noData = "[" + kHead + R"("metrics":{"numFatalErrors":"1"},"dimensions":{}}])" + "\n";
    EXPECT_EQ(Sorted(AnalyticsEndpoints::Bodies(endpoints_.events)), Sorted({body, noData}));
}

TEST_F(TransferEventTest, PeriodicEventReportsEveryNodeFromItsOwnStatistics) {
    nodeList_ = NodeList({"one.example", "two.example", "three.example"});
    http::RequestStatus sample;
    sample.state = http::State::Succeeded;
    sample.bytes = 1000;
    sample.firstByteTimeMs = 20;
    sample.totalTimeMs = 250;
    nodeList_->GetNodes()[1]->GetStatistics()->AddSample(sample);
    sample.state = http::State::Timeout;
    sample.bytes = 0;
    nodeList_->GetNodes()[1]->GetStatistics()->AddSample(sample);

    TransferPeriodicEvent(params_, behavior_, Capture(TransferState::Transferring, 5, 300000)).Raise();
    Finish();

    const auto bodies = AnalyticsEndpoints::Bodies(endpoints_.events);
    ASSERT_EQ(bodies.size(), 1u);
    ptree array = testing::ParseJson(bodies[0]);
    ASSERT_EQ(array.size(), 3u);
    std::vector<std::string> hosts;
    for (const auto& [key, element] : array) {
        EXPECT_EQ(key, "");
        hosts.push_back(element.get<std::string>("dimensions.cdn"));
    }
    EXPECT_EQ(hosts, (std::vector<std::string>{"one.example", "two.example", "three.example"}));
    const ptree& second = std::next(array.begin())->second.get_child("metrics");
    EXPECT_EQ(second.get<std::string>("bytes"), "1000");
    EXPECT_EQ(second.get<std::string>("numRequests"), "2");
    EXPECT_EQ(second.get<std::string>("numErrors"), "1");
    EXPECT_EQ(second.get<std::string>("numRequestTimeouts"), "1");
    EXPECT_EQ(second.get<std::string>("successTime"), "0.25");
    EXPECT_EQ(
        AnalyticsEndpoints::Bodies(endpoints_.transfer),
        std::vector<std::string>{kTransferHead + R"("status":"active","transferBytes":"5","duration":"300"})" + "\n"});
}

TEST_F(TransferEventTest, PeriodicEventWithoutNodeListSendsEmptyArray) {
    TransferPeriodicEvent(params_, behavior_, Capture()).Raise();
    Finish();
    EXPECT_EQ(AnalyticsEndpoints::Bodies(endpoints_.events), std::vector<std::string>{"[]\n"});
    EXPECT_EQ(endpoints_.transfer.Requests().size(), 1u);
}

TEST_F(TransferEventTest, NullAnalyticsManagerSendsNothingButTheRecordIsWritten) {
    NullAnalyticsManager null;
    behavior_.eventManager = &null;
    nodeList_ = NodeList({"a.example"});
    TransferCompleteEvent(params_, behavior_, Capture(TransferState::Complete, 1, 1)).Raise();
    Finish();
    EXPECT_TRUE(endpoints_.events.Requests().empty());
    EXPECT_TRUE(endpoints_.transfer.Requests().empty());
    EXPECT_EQ(LogRecords().size(), 1u);
}

struct CallCase {
    const char* name;
    std::function<std::unique_ptr<TransferEvent>(const TransferParams&, const TransferBehavior&)> make;
    std::string record;  // after the params
};

class TransferCallEventTest : public TransferEventTest, public ::testing::WithParamInterface<CallCase> {};

TEST_P(TransferCallEventTest, LogsAnswerAndArgumentsAndSendsNoAnalytics) {
    GetParam().make(params_, behavior_)->Raise();
    Finish();
    EXPECT_TRUE(endpoints_.events.Requests().empty());
    EXPECT_TRUE(endpoints_.transfer.Requests().empty());
    const auto records = LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0],
              std::string(R"({"event":")") + GetParam().name + "\"," + kParamsRecord + "," + GetParam().record + "}");
}

INSTANTIATE_TEST_SUITE_P(
    Calls, TransferCallEventTest,
    ::testing::Values(
        CallCase{"CanTransferTo",
                 [](const TransferParams& p, const TransferBehavior& b) {
                     return std::make_unique<CanTransferToEvent>(p, b, true, "/d", 10, 18446744073709551615ull, 30);
                 },
                 R"("returned":"true","data":{"destPath":"\/d","allocatedSpace":"10",)"
                 R"("availableSpace":"18446744073709551615","transferSize":"30"})"},
        CallCase{"IsSuperset",
                 [](const TransferParams& p, const TransferBehavior& b) {
                     return std::make_unique<IsSupersetEvent>(p, b, true, "/d", true, "");
                 },
                 R"("returned":"true","data":{"destPath":"\/d","ignoreHidden":"true"})"},
        CallCase{"IsSuperset",
                 [](const TransferParams& p, const TransferBehavior& b) {
                     return std::make_unique<IsSupersetEvent>(p, b, false, "/d", false, "/d/extra.txt");
                 },
                 R"("returned":"false","data":{"destPath":"\/d","ignoreHidden":"false","failure":"\/d\/extra.txt"})"},
        CallCase{"IsSubset",
                 [](const TransferParams& p, const TransferBehavior& b) {
                     return std::make_unique<IsSubsetEvent>(p, b, true, "/d", true, "", 5);
                 },
                 R"("returned":"true","data":{"destPath":"\/d","confirmSize":"true"})"},
        CallCase{"IsSubset",
                 [](const TransferParams& p, const TransferBehavior& b) {
                     return std::make_unique<IsSubsetEvent>(p, b, false, "/d", true, "/d/a.bin", 7);
                 },
                 R"("returned":"false","data":{"destPath":"\/d","confirmSize":"true","failure":"\/d\/a.bin",)"
                 R"("actualSize":"7"})"},
        CallCase{"IsSubset",
                 [](const TransferParams& p, const TransferBehavior& b) {
                     return std::make_unique<IsSubsetEvent>(p, b, false, "/d", false, "/d/b.bin", std::nullopt);
                 },
                 R"("returned":"false","data":{"destPath":"\/d","confirmSize":"false","failure":"\/d\/b.bin"})"}));

}  // namespace
}  // namespace vrexa
