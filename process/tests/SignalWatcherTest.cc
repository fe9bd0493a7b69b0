#include "process/posix/SignalWatcher.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <system_error>
#include <vector>

namespace vrexa::process::posix {
namespace {

bool Blocked(int signal) {
    sigset_t mask;
    EXPECT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &mask), 0);
    return sigismember(&mask, signal) == 1;
}

// Signals sent to the whole process reach the watcher's thread and nothing
// else: the test process would end on any of them taken the default way.
TEST(SignalWatcherTest, CountsEachWatchedSignalOnItsOwnThreadAndRestoresTheMask) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<int, int>> seen;
    const std::thread::id here = std::this_thread::get_id();
    bool elsewhere = true;
    {
        SignalWatcher watcher(SignalWatcher::kEndSignals, [&](int signal, int count) {
            std::lock_guard<std::mutex> lock(mutex);
            elsewhere = elsewhere && std::this_thread::get_id() != here;
            seen.emplace_back(signal, count);
            arrived.notify_all();
        });
        EXPECT_TRUE(Blocked(SIGINT) && Blocked(SIGTERM) && Blocked(SIGHUP) && Blocked(SIGQUIT));
        std::size_t expected = 0;
        // A hang-up and a quit would end the process (the quit with a core)
        // if they were not among the end signals.
        for (const int signal : {SIGINT, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            ASSERT_EQ(::kill(::getpid(), signal), 0);
            ++expected;
            std::unique_lock<std::mutex> lock(mutex);
            ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return seen.size() == expected; }))
                << "signal " << signal;
        }
    }
    EXPECT_EQ(seen,
              (std::vector<std::pair<int, int>>{{SIGINT, 1}, {SIGINT, 2}, {SIGTERM, 3}, {SIGHUP, 4}, {SIGQUIT, 5}}));
    EXPECT_TRUE(elsewhere);
    // Once the watcher is gone the mask it found is back.
    EXPECT_FALSE(Blocked(SIGINT) || Blocked(SIGTERM) || Blocked(SIGHUP) || Blocked(SIGQUIT));
}

TEST(SignalWatcherTest, SignalsBlockedBeforeItStayBlockedAfterIt) {
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &before), 0);
    SignalWatcher::Block({SIGQUIT});
    {
        SignalWatcher watcher({SIGQUIT}, [](int, int) {});
    }
    EXPECT_TRUE(Blocked(SIGQUIT));
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &before, nullptr), 0);
}

// Without a descriptor to be had the watcher refuses to exist rather than
// leave the close signals blocked with nobody reading them.
TEST(SignalWatcherTest, WithoutDescriptorsItThrowsAndLeavesTheSignalsAsTheyWere) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtimes need descriptors of their own while the test leaves none";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "the sanitizers' runtimes need descriptors of their own while the test leaves none";
#endif
#endif
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    bool threw = false;
    try {
        SignalWatcher watcher({SIGUSR1}, [](int, int) {});
    } catch (const std::system_error& error) {
        threw = true;
        EXPECT_EQ(error.code().value(), EMFILE) << error.what();
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(threw);
    EXPECT_FALSE(Blocked(SIGUSR1));
}

}  // namespace
}  // namespace vrexa::process::posix
