#include "tools/vrexa/SignalWatcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <unistd.h>

#include <csignal>
#include <mutex>
#include <vector>

namespace vrexa::cli {
namespace {

// Signals sent to the whole process reach the watcher's thread and nothing
// else: the test process would end on SIGINT or SIGTERM taken the default way.
TEST(SignalWatcherTest, CountsEachInterruptOnItsOwnThread) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<int, int>> seen;
    {
        SignalWatcher watcher([&](int signal, int count) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.emplace_back(signal, count);
            arrived.notify_all();
        });
        for (const int signal : {SIGINT, SIGTERM}) {
            ASSERT_EQ(::kill(::getpid(), signal), 0);
            std::unique_lock<std::mutex> lock(mutex);
            const std::size_t expected = signal == SIGINT ? 1 : 2;
            ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return seen.size() == expected; }));
        }
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{SIGINT, 1}, {SIGTERM, 2}}));

    // Once the watcher is gone the mask it found is back.
    sigset_t mask;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &mask), 0);
    EXPECT_FALSE(sigismember(&mask, SIGINT));
    EXPECT_FALSE(sigismember(&mask, SIGTERM));
}

}  // namespace
}  // namespace vrexa::cli
