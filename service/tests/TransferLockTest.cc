#include "service/TransferLock.h"

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vrexa {
namespace {

TEST(TransferLock, DeferredWorkRunsAfterTheOutermostReleaseOnly) {
    TransferMutex mutex;
    std::vector<std::string> order;
    {
        TransferLock outer(mutex);
        {
            TransferLock inner(mutex);
            inner.Defer([&] { order.push_back("first"); });
        }
        order.push_back("inner released");
        outer.Defer([&] { order.push_back("second"); });
    }
    EXPECT_EQ(order, (std::vector<std::string>{"inner released", "first", "second"}));
}

TEST(TransferLock, DeferredWorkRunsWithoutTheLockHeld) {
    TransferMutex mutex;
    std::future<void> other;
    bool otherGotTheLock = false;
    {
        TransferLock lock(mutex);
        lock.Defer([&] {
            // Another thread takes the lock while the deferred work runs.
            other = std::async(std::launch::async, [&] { TransferLock again(mutex); });
            otherGotTheLock = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        });
    }
    EXPECT_TRUE(otherGotTheLock);
}

TEST(TransferLock, AThrowingDeferredWorkDoesNotStopTheOthers) {
    TransferMutex mutex;
    bool ran = false;
    {
        TransferLock lock(mutex);
        lock.Defer([] { throw std::runtime_error("failed"); });
        lock.Defer([&] { ran = true; });
    }
    EXPECT_TRUE(ran);
}

TEST(TransferLock, WorkQueuedByOtherThreadsRunsInQueueOrder) {
    TransferMutex mutex;
    std::mutex orderMutex;
    std::vector<int> order;
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                TransferLock lock(mutex);
                // Numbers are taken and queued under the lock: the queue order.
                const int number = next++;
                lock.Defer([&, number] {
                    std::lock_guard<std::mutex> guard(orderMutex);
                    order.push_back(number);
                });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    ASSERT_EQ(order.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(order[i], i);
}

}  // namespace
}  // namespace vrexa
