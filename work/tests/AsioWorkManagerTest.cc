#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/Eventually.h"
#include "work/AsioWorkManager.h"
#include "work/tests/WorkTestSupport.h"

namespace vrexa {
namespace {

using testing::AlwaysWork;
using testing::ConcurrencyProbe;
using testing::Gate;
using testing::RecordingCallback;
using testing::Watched;

TEST(AsioWorkManagerTest, DrainRunsEveryPostedJob) {
    std::atomic<int> done{0};
    Gate gate;
    AsioWorkManager manager(2, false);
    manager.Post([&] { gate.Wait(); });
    manager.Post([&] { gate.Wait(); });
    for (int i = 0; i < 500; ++i) {
        manager.Post([&] { done.fetch_add(1); });
    }
    gate.Open();
    manager.Drain();
    EXPECT_EQ(done.load(), 500);

    // No thread is left to run anything posted later.
    manager.Post([&] { done.fetch_add(1); });
    EXPECT_EQ(done.load(), 500);
}

TEST(AsioWorkManagerTest, FinishPendingShutdownRunsEveryPostedJob) {
    std::atomic<int> done{0};
    Gate gate;
    {
        AsioWorkManager manager(1, true);
        manager.Post([&] { gate.Wait(); });
        for (int i = 0; i < 500; ++i) {
            manager.Post([&] { done.fetch_add(1); });
        }
        gate.Open();
    }
    EXPECT_EQ(done.load(), 500);
}

TEST(AsioWorkManagerTest, DropPendingShutdownDropsJobsNotStarted) {
    std::atomic<int> done{0};
    Watched<bool> started{false};
    std::atomic<bool> sawStop{false};
    {
        AsioWorkManager manager(1, false);
        // The running job lasts until the destructor has stopped the service,
        // so the jobs behind it are still waiting at that moment.
        manager.Post([&] {
            started.Update([](bool& v) { v = true; });
            sawStop = testsupport::Eventually([&] { return manager.IsStopped(); });
            done.fetch_add(1);
        });
        for (int i = 0; i < 50; ++i) {
            manager.Post([&] { done.fetch_add(1); });
        }
        ASSERT_TRUE(started.WaitUntil([](bool v) { return v; }));
    }
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(done.load(), 1);  // the running job finished; the rest were dropped
}

// Workflows post nearly every job from a worker thread (a finished work
// dispatches the next ones), so those must spread over the pool as much as
// jobs posted from outside.
TEST(AsioWorkManagerTest, JobsPostedFromWorkerThreadsRunConcurrentlyUpToTheThreadCount) {
    constexpr int kThreads = 6;
    for (const bool fromWorker : {false, true}) {
        ConcurrencyProbe probe(kThreads, 3 * kThreads);
        AsioWorkManager manager(kThreads, false);
        const auto postAll = [&] {
            for (int i = 0; i < 3 * kThreads; ++i) {
                manager.Post([&] { probe.Hold(); });
            }
        };
        if (fromWorker) {
            manager.Post(postAll);
        } else {
            postAll();
        }
        manager.Drain();
        EXPECT_EQ(probe.Highest(), kThreads) << (fromWorker ? "posted from a worker" : "posted from outside");
        EXPECT_FALSE(probe.GaveUp());
    }
}

TEST(AsioWorkManagerTest, JobsRunOnWorkerThreadsNeverOnTheCaller) {
    Watched<std::thread::id> ranOn;
    AsioWorkManager manager(1, false);
    manager.Post([&] { ranOn.Update([](std::thread::id& id) { id = std::this_thread::get_id(); }); });
    ASSERT_TRUE(ranOn.WaitUntil([](std::thread::id id) { return id != std::thread::id(); }));
    EXPECT_NE(ranOn.Get(), std::this_thread::get_id());
}

TEST(AsioWorkManagerTest, ManagerWithoutThreadsRunsNothing) {
    std::atomic<int> done{0};
    AsioWorkManager manager(0, true);
    manager.Post([&] { done.fetch_add(1); });
    manager.Drain();
    EXPECT_EQ(done.load(), 0);
}

TEST(AsioWorkManagerTest, FailingJobDoesNotStopItsWorker) {
    std::atomic<int> done{0};
    AsioWorkManager manager(1, false);
    manager.Post([] { throw std::runtime_error("job failed"); });
    manager.Post([&] { done.fetch_add(1); });
    manager.Drain();
    EXPECT_EQ(done.load(), 1);
}

TEST(AsioWorkManagerTest, PostedSimpleWorkIsExecutedAndItsOutcomeDelivered) {
    RecordingCallback callback;
    auto work = AlwaysWork(WorkResult::Failure);
    work->AddCompleteCallback(&callback);
    testing::ThrowingCallback throwing("x");
    auto throwingWork = AlwaysWork(WorkResult::Success);
    throwingWork->AddCompleteCallback(&throwing);

    AsioWorkManager manager(2, false);
    manager.Post(std::static_pointer_cast<SimpleWork>(throwingWork));
    manager.Post(std::static_pointer_cast<SimpleWork>(work));
    ASSERT_TRUE(callback.WaitForCount(1));
    EXPECT_EQ(callback.Calls()[0].status.result, WorkResult::Failure);
    EXPECT_EQ(work->runs, 1);
    manager.Drain();
    EXPECT_EQ(throwingWork->runs, 1);
}

}  // namespace
}  // namespace vrexa
