#include <ostream>

#include <atomic>
#include <chrono>
#include <thread>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analytics/AnalyticsManager.h"
#include "analytics/JsonHttpAnalyticsEventWork.h"
#include "analytics/JsonHttpAnalyticsManager.h"
#include "analytics/NullAnalyticsManager.h"
#include "analytics/tests/AnalyticsTestSupport.h"
#include "tests/support/FinishesWithin.h"
#include "http/Request.h"
#include "http/RequestFactory.h"
#include "work/SimpleWork.h"
#include "work/WorkCallbacks.h"
#include "work/WorkStatus.h"

namespace vrexa {
namespace {

using testing::AnalyticsEndpoints;
using testsupport::Fault;

void Track(EventManager& manager, int kind, const std::string& key, const std::string& value) {
    std::shared_ptr<TrackEventWork> work = manager.CreateEventWork(kind);
    work->GetTree().put(key, value);
    manager.TrackEvent(work);
}

TEST(JsonHttpAnalyticsManagerTest, PostsJsonToTheEndpointOfItsKind) {
    AnalyticsEndpoints endpoints;
    {
        auto manager = endpoints.MakeManager();
        Track(*manager, kTransferAnalyticsKind, "doc", "transfer");
        Track(*manager, kEventAnalyticsKind, "doc", "event");
        Track(*manager, 2, "doc", "other");
    }  // destruction sends everything tracked

    const auto transferRequests = endpoints.transfer.Requests();
    ASSERT_EQ(transferRequests.size(), 1u);
    EXPECT_EQ(transferRequests[0].method, "POST");
    EXPECT_EQ(transferRequests[0].path, "/");
    EXPECT_EQ(transferRequests[0].Header("Content-Type"), "application/json");
    EXPECT_EQ(transferRequests[0].body, "{\"doc\":\"transfer\"}\n");

    auto eventBodies = AnalyticsEndpoints::Bodies(endpoints.events);
    std::sort(eventBodies.begin(), eventBodies.end());  // three threads: any order
    EXPECT_EQ(eventBodies, (std::vector<std::string>{"{\"doc\":\"event\"}\n", "{\"doc\":\"other\"}\n"}));
    for (const auto& request : endpoints.events.Requests()) {
        EXPECT_EQ(request.Header("Content-Type"), "application/json");
    }
}

struct RetryCase {
    const char* name;
    int retryLimit;
    std::optional<Fault> fault;
    std::size_t expectedPosts;
};

// Cases print as their names, so test listings stay short and stable.
void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class AnalyticsRetryTest : public ::testing::TestWithParam<RetryCase> {};

TEST_P(AnalyticsRetryTest, SendsAgainOnlyWhatMayHeal) {
    AnalyticsEndpoints endpoints;
    if (GetParam().fault) endpoints.events.SetFault("/", *GetParam().fault);
    TransferSettings settings = endpoints.Settings();
    settings.analyticsRetryLimit = GetParam().retryLimit;
    {
        auto manager = endpoints.MakeManager(settings);
        Track(*manager, kEventAnalyticsKind, "n", "1");
    }
    const auto bodies = AnalyticsEndpoints::Bodies(endpoints.events);
    EXPECT_EQ(bodies.size(), GetParam().expectedPosts);
    for (const auto& body : bodies)
        EXPECT_EQ(body, "{\"n\":\"1\"}\n");
}

INSTANTIATE_TEST_SUITE_P(Faults, AnalyticsRetryTest,
                         ::testing::Values(RetryCase{"Accepted", 1, std::nullopt, 1},
                                           RetryCase{"ServerErrorOnceThenAccepted", 1, Fault().Status(503).Times(1), 2},
                                           RetryCase{"ServerErrorAlwaysRetriedOnceThenDropped", 1, Fault().Status(503),
                                                     2},
                                           RetryCase{"ClientErrorNotRetried", 1, Fault().Status(404), 1},
                                           RetryCase{"ConnectionResetNotRetried", 1, Fault().Reset(), 1},
                                           RetryCase{"HigherLimit", 3, Fault().Status(500), 4},
                                           RetryCase{"LimitZero", 0, Fault().Status(503), 1},
                                           RetryCase{"NegativeLimitMeansNone", -1, Fault().Status(503), 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JsonHttpAnalyticsManagerTest, DestructionSendsEveryTrackedDocumentFirst) {
    AnalyticsEndpoints endpoints;
    // Slow answers keep most documents queued when destruction begins.
    endpoints.events.SetFault("/", Fault().Delay(0.05));
    constexpr int kDocuments = 20;
    {
        auto manager = endpoints.MakeManager();
        for (int i = 0; i < kDocuments; ++i)
            Track(*manager, kEventAnalyticsKind, "i", std::to_string(i));
    }
    auto bodies = AnalyticsEndpoints::Bodies(endpoints.events);
    std::vector<std::string> expected;
    for (int i = 0; i < kDocuments; ++i)
        expected.push_back("{\"i\":\"" + std::to_string(i) + "\"}\n");
    std::sort(bodies.begin(), bodies.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(bodies, expected);
}

// An endpoint that accepts and never answers must not keep a closed program
// alive for the requests' own timeouts: past the shutdown timeout the posts
// under way are aborted and the queued ones dropped.
TEST(JsonHttpAnalyticsManagerTest, DestructionGivesUpOnASilentEndpointAfterTheShutdownTimeout) {
    AnalyticsEndpoints endpoints;
    endpoints.events.SetFault("/", Fault().Hold("silent"));
    TransferSettings settings = endpoints.Settings();
    settings.analyticsTimeout = 600;
    settings.analyticsRetryLimit = 3;
    settings.analyticsShutdownTimeout = 1;
    constexpr int kDocuments = JsonHttpAnalyticsManager::kThreads + 3;
    auto manager = endpoints.MakeManager(settings);
    for (int i = 0; i < kDocuments; ++i)
        Track(*manager, kEventAnalyticsKind, "i", std::to_string(i));
    testsupport::FinishesWithin(std::chrono::seconds(60), [&] {
        while (endpoints.events.Held("silent") < static_cast<int>(JsonHttpAnalyticsManager::kThreads))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    testsupport::FinishesWithin(std::chrono::seconds(60), [&] { manager.reset(); });
    // Neither the aborted posts nor the dropped ones are tried again.
    endpoints.events.Release("silent");
    EXPECT_EQ(endpoints.events.Requests().size(), JsonHttpAnalyticsManager::kThreads);
}

TEST(JsonHttpAnalyticsManagerTest, UnreachableEndpointEndsTheWorkAfterOneRetry) {
    testsupport::TestHttpServer stopped;
    const std::string url = stopped.Url("");
    stopped.Stop();  // nothing listens on the port any more
    TransferSettings settings;
    settings.eventsAnalyticsUrl = url;
    testing::HttpComponents http;
    auto manager = http.MakeManager(settings);
    std::shared_ptr<TrackEventWork> work = manager->CreateEventWork(kEventAnalyticsKind);
    ASSERT_EQ(static_cast<JsonHttpAnalyticsEventWork&>(*work).GetUrl(), url);
    work->Reset();
    int retries = 0;
    SimpleWorkRetryCallbackRoute countRetries(
        [&retries](std::shared_ptr<SimpleWork>, const WorkStatus&) { ++retries; });
    work->AddRetryCallback(&countRetries);
    const WorkStatus status = work->Execute();
    EXPECT_EQ(status.result, WorkResult::RetryableError);
    EXPECT_FALSE(status.retry);
    EXPECT_EQ(retries, 1);
}

// A request that ends in a chosen state without touching the network: the
// states that cannot be produced on loopback (a failed name lookup, TLS).
class ScriptedRequest : public http::Request {
public:
    ScriptedRequest(const http::RequestParams& params, http::State state, std::atomic<int>& performed)
        : Request(params, nullptr), state_(state), performed_(performed) {}
    http::RequestStatus Perform() override {
        ++performed_;
        http::RequestStatus status;
        status.state = state_;
        return status;
    }
    http::RequestStatus GetStatus() override { return {}; }
    void Abort() override {}
    bool Reset(const http::RequestParams&, std::shared_ptr<http::Proxy>) override { return false; }

private:
    http::State state_;
    std::atomic<int>& performed_;
};

class ScriptedRequestFactory : public http::RequestFactory {
public:
    ScriptedRequestFactory(http::ProxyFactory& proxies, http::State state) : RequestFactory(proxies), state_(state) {}
    std::shared_ptr<http::Request> Create(const http::RequestParams& params, std::shared_ptr<http::Proxy>) override {
        EXPECT_EQ(params.method, http::RequestMethod::Post);
        EXPECT_EQ(params.contentType, "application/json");
        EXPECT_EQ(params.body, "{\"k\":\"v\"}\n");
        EXPECT_EQ(params.connectTimeout, 7);
        EXPECT_EQ(params.timeout, 9);
        return std::make_shared<ScriptedRequest>(params, state_, performed);
    }
    std::atomic<int> performed{0};

private:
    http::State state_;
};

struct StateCase {
    http::State state;
    WorkResult result;
    int attempts;  // with the default retry limit of 1
};

class AnalyticsStateTest : public ::testing::TestWithParam<StateCase> {};

TEST_P(AnalyticsStateTest, OutcomeAndAttemptsFollowRequestState) {
    testing::HttpComponents http;
    ScriptedRequestFactory factory(http.proxyFactory, GetParam().state);
    TransferSettings settings;
    settings.analyticsConnectTimeout = 7;
    settings.analyticsTimeout = 9;
    JsonHttpAnalyticsManager manager(factory, nullptr, settings);
    std::shared_ptr<TrackEventWork> work = manager.CreateEventWork(kEventAnalyticsKind);
    work->GetTree().put("k", "v");
    work->Reset();
    const WorkStatus status = work->Execute();
    EXPECT_EQ(status.result, GetParam().result);
    EXPECT_EQ(status.data, nullptr);
    EXPECT_EQ(factory.performed, GetParam().attempts);

    // Reset starts the count of retries afresh.
    work->Reset();
    work->Execute();
    EXPECT_EQ(factory.performed, 2 * GetParam().attempts);
}

INSTANTIATE_TEST_SUITE_P(States, AnalyticsStateTest,
                         ::testing::Values(StateCase{http::State::Succeeded, WorkResult::Success, 1},
                                           StateCase{http::State::ConnectError, WorkResult::RetryableError, 2},
                                           StateCase{http::State::ServerError, WorkResult::RetryableError, 2},
                                           StateCase{http::State::SecurityError, WorkResult::RetryableError, 2},
                                           StateCase{http::State::ResolveError, WorkResult::FatalError, 1},
                                           StateCase{http::State::Ready, WorkResult::FatalError, 1},
                                           StateCase{http::State::Aborted, WorkResult::FatalError, 1},
                                           StateCase{http::State::InvalidRequest, WorkResult::FatalError, 1},
                                           StateCase{http::State::ClientError, WorkResult::FatalError, 1},
                                           StateCase{http::State::TransmitError, WorkResult::FatalError, 1},
                                           StateCase{http::State::WriteError, WorkResult::FatalError, 1},
                                           StateCase{http::State::RangeError, WorkResult::FatalError, 1},
                                           StateCase{http::State::Timeout, WorkResult::FatalError, 1},
                                           StateCase{http::State::OutOfMemory, WorkResult::FatalError, 1},
                                           StateCase{http::State::OtherError, WorkResult::FatalError, 1}));

class ThrowingRequestFactory : public http::RequestFactory {
public:
    using RequestFactory::RequestFactory;
    std::shared_ptr<http::Request> Create(const http::RequestParams&, std::shared_ptr<http::Proxy>) override {
        throw std::runtime_error("no request");
    }
};

TEST(JsonHttpAnalyticsEventWorkTest, ExceptionBecomesFatalErrorWithoutData) {
    testing::HttpComponents http;
    ThrowingRequestFactory factory(http.proxyFactory);
    JsonHttpAnalyticsManager manager(factory, nullptr, TransferSettings());
    std::shared_ptr<TrackEventWork> work = manager.CreateEventWork(kTransferAnalyticsKind);
    work->Reset();
    const WorkStatus status = work->Execute();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_EQ(status.data, nullptr);
}

// The manager's own pool is counted, not the process: other tests' servers and
// resolver threads come and go at any time.
TEST(NullAnalyticsManagerTest, KeepsNoThreadAndRunsNothing) {
    testing::HttpComponents components;
    EXPECT_EQ(components.MakeManager(TransferSettings())->GetThreadCount(), 3u);  // what a sending manager keeps

    NullAnalyticsManager manager;
    EXPECT_EQ(manager.GetThreadCount(), 0u);
    std::shared_ptr<TrackEventWork> work = manager.CreateEventWork(kTransferAnalyticsKind);
    EXPECT_EQ(work->GetKind(), kTransferAnalyticsKind);
    manager.TrackEvent(work);
    EXPECT_EQ(manager.GetThreadCount(), 0u);
    work->Reset();
    EXPECT_EQ(work->Execute().result, WorkResult::Success);
}

}  // namespace
}  // namespace vrexa
