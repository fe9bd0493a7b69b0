#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "http/CurlRequestFactory.h"
#include "http/PooledRequestWrapper.h"
#include "http/RoundRobinRequestPool.h"
#include "http/RoundRobinSessionFactory.h"
#include "http/tests/TestWriters.h"
#include "tests/support/TestHttpServer.h"

namespace vrexa::http {
namespace {

// A request that does no I/O: it reports the parameters and proxy of its last
// arming, and refuses Reset when told to (as a request still performing does).
class FakeRequest : public Request {
public:
    FakeRequest(int id, const RequestParams& params, std::shared_ptr<Proxy> proxy)
        : Request(params, std::move(proxy)), id(id) {}

    RequestStatus Perform() override {
        ++performs;
        status.state = State::Succeeded;
        return status;
    }
    RequestStatus GetStatus() override { return status; }
    void Abort() override { status.state = State::Aborted; }
    bool Reset(const RequestParams& params, std::shared_ptr<Proxy> proxy) override {
        if (throwOnReset) throw std::runtime_error("proxy cannot answer");
        if (refuseReset) return false;
        params_ = params;
        proxy_ = std::move(proxy);
        status = RequestStatus();
        return true;
    }

    const std::string& Url() const { return params_.url; }
    const std::shared_ptr<Proxy>& GetProxy() const { return proxy_; }

    const int id;
    bool refuseReset = false;
    bool throwOnReset = false;
    int performs = 0;
    RequestStatus status;
};

std::shared_ptr<FakeRequest> Fake(int id) {
    return std::make_shared<FakeRequest>(id, RequestParams("http://fake/" + std::to_string(id), nullptr), nullptr);
}

int IdOf(const std::shared_ptr<Request>& request) { return request ? dynamic_cast<FakeRequest&>(*request).id : 0; }

class CountingProxyFactory : public ProxyFactory {
public:
    std::shared_ptr<Proxy> Create() override {
        ++created;
        return std::make_shared<EmptyProxy>();
    }
    std::atomic<int> created{0};
};

class FakeRequestFactory : public RequestFactory {
public:
    using RequestFactory::RequestFactory;
    std::shared_ptr<Request> Create(const RequestParams& params, std::shared_ptr<Proxy> proxy) override {
        if (failCreate) throw std::runtime_error("curl_easy_init failed");
        made.push_back(std::make_shared<FakeRequest>(static_cast<int>(made.size()) + 1, params, std::move(proxy)));
        return made.back();
    }
    std::vector<std::shared_ptr<FakeRequest>> made;
    bool failCreate = false;
};

TEST(RoundRobinRequestPoolTest, HandsOutIdleRequestsLongestIdleFirst) {
    RoundRobinRequestPool pool;
    const RequestParams params("http://next/", nullptr);
    auto a = Fake(1), b = Fake(2), c = Fake(3);
    pool.Add(a, true);
    pool.Add(b, true);
    pool.Add(c, false);  // known, but lent

    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 1);
    pool.Release(c);
    pool.Release(a);
    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 2);
    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 3);
    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 1);
    EXPECT_EQ(pool.Acquire(params, nullptr), nullptr);
}

TEST(RoundRobinRequestPoolTest, IdleRequestIsQueuedOnlyOnce) {
    RoundRobinRequestPool pool;
    const RequestParams params("http://next/", nullptr);
    auto a = Fake(1), b = Fake(2);
    pool.Add(a, true);
    pool.Add(a, true);  // already known: nothing changes
    pool.Release(a);    // already idle: nothing changes
    pool.Add(b, false);
    pool.Add(b, true);      // already known: stays lent
    pool.Release(Fake(9));  // unknown: ignored

    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 1);
    EXPECT_EQ(pool.Acquire(params, nullptr), nullptr);
}

TEST(RoundRobinRequestPoolTest, AcquireRearmsTheRequest) {
    RoundRobinRequestPool pool;
    auto a = Fake(1);
    pool.Add(a, true);
    auto proxy = std::make_shared<EmptyProxy>();
    EXPECT_EQ(pool.Acquire(RequestParams("http://new/", nullptr), proxy), a);
    EXPECT_EQ(a->Url(), "http://new/");
    EXPECT_EQ(a->GetProxy(), proxy);
}

TEST(RoundRobinRequestPoolTest, RequestStillRunningIsSkippedAndForgotten) {
    RoundRobinRequestPool pool;
    const RequestParams params("http://next/", nullptr);
    auto running = Fake(1), idle = Fake(2);
    running->refuseReset = true;
    pool.Add(running, true);
    pool.Add(idle, true);

    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 2);
    // Forgotten for good: releasing it again does not bring it back.
    running->refuseReset = false;
    pool.Release(running);
    EXPECT_EQ(pool.Acquire(params, nullptr), nullptr);

    // With nothing else idle, skipping it leaves the pool empty-handed.
    auto onlyRunning = Fake(3);
    onlyRunning->refuseReset = true;
    pool.Add(onlyRunning, true);
    EXPECT_EQ(pool.Acquire(params, nullptr), nullptr);
}

TEST(RoundRobinRequestPoolTest, RequestWhoseResetThrowsStaysIdleAndFirstInLine) {
    RoundRobinRequestPool pool;
    const RequestParams params("http://next/", nullptr);
    auto failing = Fake(1), other = Fake(2);
    pool.Add(failing, true);
    pool.Add(other, true);
    failing->throwOnReset = true;

    EXPECT_THROW(pool.Acquire(params, nullptr), std::runtime_error);

    failing->throwOnReset = false;
    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 1);
    EXPECT_EQ(IdOf(pool.Acquire(params, nullptr)), 2);
    EXPECT_EQ(pool.Acquire(params, nullptr), nullptr);
}

class SessionTest : public ::testing::Test {
protected:
    CountingProxyFactory proxies_;
    FakeRequestFactory factory_{proxies_};
    RoundRobinSessionFactory sessions_;
    RequestParams params_{"http://fake/", nullptr};
};

TEST_F(SessionTest, ConcurrentRequestsAreDistinctAndTheFirstReleasedIsReusedFirst) {
    auto session = sessions_.CreateSession();
    auto first = factory_.CreateRequest(params_, session);
    auto second = factory_.CreateRequest(params_, session);
    ASSERT_EQ(factory_.made.size(), 2u);

    second.reset();
    first.reset();
    auto third = factory_.CreateRequest(RequestParams("http://third/", nullptr), session);
    EXPECT_EQ(factory_.made.size(), 2u);
    EXPECT_EQ(factory_.made[1]->Url(), "http://third/");
    EXPECT_EQ(factory_.made[0]->Url(), "http://fake/");
}

TEST_F(SessionTest, ProxyIsDiscoveredOncePerSession) {
    auto session = sessions_.CreateSession();
    EXPECT_EQ(session->GetProxy(), nullptr);
    factory_.CreateRequest(params_, session);
    factory_.CreateRequest(params_, session);
    EXPECT_EQ(proxies_.created, 1);
    EXPECT_NE(session->GetProxy(), nullptr);

    factory_.CreateRequest(params_, sessions_.CreateSession());
    EXPECT_EQ(proxies_.created, 2);
}

TEST_F(SessionTest, RequestsWithoutAPooledSessionAreStandalone) {
    auto first = factory_.CreateRequest(params_, nullptr);
    auto second = factory_.CreateRequest(params_, std::make_shared<Session>(nullptr));
    EXPECT_NE(dynamic_cast<FakeRequest*>(first.get()), nullptr);  // not wrapped
    EXPECT_NE(dynamic_cast<FakeRequest*>(second.get()), nullptr);
    first.reset();
    factory_.CreateRequest(params_, nullptr);
    EXPECT_EQ(factory_.made.size(), 3u);
    EXPECT_EQ(proxies_.created, 3);
}

TEST_F(SessionTest, FailedCreationLeavesNothingInThePool) {
    auto session = sessions_.CreateSession();
    factory_.failCreate = true;
    EXPECT_THROW(factory_.CreateRequest(params_, session), std::runtime_error);
    EXPECT_EQ(session->GetPool()->Acquire(params_, nullptr), nullptr);
}

TEST_F(SessionTest, WrapperForwardsToThePooledRequest) {
    auto session = sessions_.CreateSession();
    auto wrapper = factory_.CreateRequest(params_, session);
    auto pooledRequest = [&] {
        wrapper.reset();
        auto request = std::dynamic_pointer_cast<FakeRequest>(session->GetPool()->Acquire(params_, nullptr));
        session->GetPool()->Release(request);
        return request;
    }();
    wrapper = factory_.CreateRequest(RequestParams("http://second/", nullptr), session);
    EXPECT_EQ(pooledRequest->Url(), "http://second/");

    EXPECT_EQ(wrapper->Perform().state, State::Succeeded);
    EXPECT_EQ(pooledRequest->performs, 1);
    wrapper->Abort();
    EXPECT_EQ(wrapper->GetStatus().state, State::Aborted);
    pooledRequest->refuseReset = true;
    EXPECT_FALSE(wrapper->Reset(params_, nullptr));
    pooledRequest->refuseReset = false;
    EXPECT_TRUE(wrapper->Reset(RequestParams("http://third/", nullptr), nullptr));
    EXPECT_EQ(pooledRequest->Url(), "http://third/");
}

// A pool whose Release fails.
class FailingPool : public RoundRobinRequestPool {
public:
    void Release(std::shared_ptr<Request>) override { throw std::runtime_error("release failed"); }
};

TEST_F(SessionTest, WrapperDestructionSwallowsPoolFailures) {
    auto wrapper = std::make_unique<PooledRequestWrapper>(Fake(1), std::make_shared<FailingPool>());
    EXPECT_NO_THROW(wrapper.reset());
}

// Counts the requests it makes and checks each is handed out armed.
class CountingCurlRequestFactory : public CurlRequestFactory {
public:
    using CurlRequestFactory::CurlRequestFactory;
    std::shared_ptr<Request> Create(const RequestParams& params, std::shared_ptr<Proxy> proxy) override {
        ++created;
        return CurlRequestFactory::Create(params, std::move(proxy));
    }
    std::atomic<int> created{0};
};

TEST_F(SessionTest, RacingFirstRequestsShareOneWorkingSession) {
    constexpr int kThreads = 4;
    auto session = sessions_.CreateSession();
    CountingProxyFactory proxies;
    CountingCurlRequestFactory factory(proxies);
    std::vector<std::thread> threads;
    std::atomic<int> unusable{0};
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 20; ++j) {
                auto request = factory.CreateRequest(params_, session);
                if (!request || request->GetStatus().state != State::Ready) ++unusable;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(unusable, 0);
    EXPECT_GE(proxies.created, 1);
    EXPECT_LE(proxies.created, kThreads);
    EXPECT_NE(session->GetProxy(), nullptr);
    // Never more requests than were lent at once, and every one of them is idle
    // again: none stranded, none queued twice.
    EXPECT_GE(factory.created, 1);
    EXPECT_LE(factory.created, kThreads);
    std::set<std::shared_ptr<Request>> idle;
    int acquired = 0;
    for (; auto request = session->GetPool()->Acquire(params_, nullptr); ++acquired)
        idle.insert(request);
    EXPECT_EQ(acquired, factory.created.load());
    EXPECT_EQ(static_cast<int>(idle.size()), factory.created.load());
}

TEST(PooledCurlRequestTest, PooledRequestsReuseTheirConnectionStandaloneOnesDoNot) {
    testsupport::TestHttpServer server;
    server.SetBody("/a", "first");
    server.SetBody("/b", "second");
    CountingProxyFactory proxies;
    CurlRequestFactory factory(proxies);
    RoundRobinSessionFactory sessions;
    auto session = sessions.CreateSession();

    for (const char* path : {"/a", "/b"}) {
        testing::CollectingWriter writer;
        auto request = factory.CreateRequest(RequestParams(server.Url(path), &writer), session);
        EXPECT_EQ(request->Perform().state, State::Succeeded);
    }
    for (const char* path : {"/a", "/b"}) {
        testing::CollectingWriter writer;
        auto request = factory.CreateRequest(RequestParams(server.Url(path), &writer), nullptr);
        EXPECT_EQ(request->Perform().state, State::Succeeded);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].client, requests[1].client);  // one handle, one connection
    EXPECT_NE(requests[2].client, requests[3].client);
    EXPECT_NE(requests[1].client, requests[2].client);
}

TEST(PooledCurlRequestTest, IdleRequestStillPerformingIsSkippedForANewOne) {
    testsupport::TestHttpServer server;
    server.SetBody("/slow", std::string(1000, 's'));
    server.SetFault("/slow", testsupport::Fault().Stall(10));
    server.SetBody("/fast", "fast");
    CountingProxyFactory proxies;
    CurlRequestFactory factory(proxies);
    RoundRobinSessionFactory sessions;
    auto session = sessions.CreateSession();

    // A request handed back to the pool while its exchange still runs.
    testing::CollectingWriter slowWriter;
    auto running = factory.Create(RequestParams(server.Url("/slow"), &slowWriter), std::make_shared<EmptyProxy>());
    auto performed = std::async(std::launch::async, [&] { return running->Perform(); });
    ASSERT_TRUE(slowWriter.WaitForBytes(10));
    session->GetPool()->Add(running, true);

    testing::CollectingWriter fastWriter;
    auto request = factory.CreateRequest(RequestParams(server.Url("/fast"), &fastWriter), session);
    EXPECT_EQ(request->Perform().state, State::Succeeded);
    EXPECT_EQ(fastWriter.Body(), "fast");

    // The running exchange was left alone, and the pool no longer knows it.
    EXPECT_EQ(running->GetStatus().state, State::Running);
    running->Abort();
    EXPECT_EQ(performed.get().state, State::Aborted);
    session->GetPool()->Release(running);
    request.reset();
    auto next = session->GetPool()->Acquire(RequestParams(server.Url("/fast"), &fastWriter), nullptr);
    EXPECT_NE(next, running);
    EXPECT_EQ(session->GetPool()->Acquire(RequestParams(server.Url("/fast"), &fastWriter), nullptr), nullptr);
}

}  // namespace
}  // namespace vrexa::http
