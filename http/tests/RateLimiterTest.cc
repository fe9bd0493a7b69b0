#include "http/RateLimiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <utility>
#include <vector>

namespace vrexa::http {
namespace {

using std::chrono::nanoseconds;
using Time = std::chrono::steady_clock::time_point;

// A clock that moves only when the test moves it.
struct FakeClock {
    Time now{};
    RateLimiter::Clock Reader() {
        return [this] { return now; };
    }
};

// Several requests that always want more, each asking again when the limiter
// said to and offering one block at a time, run for `seconds` of fake time.
// Returns every grant as (time, bytes).
std::vector<std::pair<Time, std::uint64_t>> RunHungryTakers(RateLimiter& limiter, FakeClock& clock, int takers,
                                                            std::uint64_t block, double seconds) {
    const Time start = clock.now;
    const Time end = start + std::chrono::duration_cast<nanoseconds>(std::chrono::duration<double>(seconds));
    std::vector<Time> next(static_cast<std::size_t>(takers), start);
    std::vector<std::pair<Time, std::uint64_t>> grants;
    for (;;) {
        const auto earliest = std::min_element(next.begin(), next.end());
        if (*earliest >= end) break;
        clock.now = *earliest;
        const nanoseconds wait = limiter.Take(block);
        if (wait.count() == 0) {
            grants.emplace_back(clock.now, block);
            // Writing the block takes a little while on a real request.
            *earliest = clock.now + std::chrono::microseconds(50);
        } else {
            *earliest = clock.now + wait;
        }
    }
    return grants;
}

TEST(RateLimiterTest, AnyWindowGetsTheRateWithinOneBurstAndOneBlock) {
    struct Case {
        std::uint64_t rate;
        int takers;
        std::uint64_t block;  // 0: the limiter's own block size
    };
    const Case cases[] = {
        {20'000, 1, 0},         {500'000, 4, 0}, {2'000'000, 8, 0},
        {2'000'000, 16, 16384},  // libcurl's largest piece, bigger than the block the limiter asks for
        {100'000'000, 6, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " B/s, " << c.takers << " takers");
        FakeClock clock;
        RateLimiter limiter(c.rate, clock.Reader());
        const std::uint64_t block = c.block != 0 ? c.block : limiter.GetBlockSize();
        const auto grants = RunHungryTakers(limiter, clock, c.takers, block, 30.0);
        ASSERT_FALSE(grants.empty());

        // Every window of 5 s that starts at a grant, slid over the whole run.
        const auto window = std::chrono::seconds(5);
        const double allowed = static_cast<double>(c.rate) * 5.0;
        const double slack = static_cast<double>(limiter.GetBurst() + block);
        std::size_t last = 0;
        std::uint64_t inside = 0;
        double most = 0;
        double least = allowed * 10;
        for (std::size_t first = 0; first < grants.size(); ++first) {
            while (last < grants.size() && grants[last].first < grants[first].first + window) {
                inside += grants[last].second;
                ++last;
            }
            most = std::max(most, static_cast<double>(inside));
            if (grants[first].first + window <= grants.back().first) {
                least = std::min(least, static_cast<double>(inside));
            }
            inside -= grants[first].second;
        }
        EXPECT_LE(most, allowed + slack);
        // Requests that always want more are never held below the rate.
        EXPECT_GE(least, allowed - slack);

        std::uint64_t total = 0;
        for (const auto& grant : grants)
            total += grant.second;
        EXPECT_EQ(limiter.GetPassed(), total);
    }
}

TEST(RateLimiterTest, ABlockPassesIntoDebtAndTheNextWaitsUntilItIsPaid) {
    FakeClock clock;
    RateLimiter limiter(1000, clock.Reader());
    // The first block finds the balance full and is charged whole, however large.
    const std::uint64_t first = limiter.GetBurst() + 4000;
    EXPECT_EQ(limiter.Take(first).count(), 0);
    // 4 s of debt at 1000 B/s: nothing more passes until then.
    const nanoseconds wait = limiter.Take(1);
    EXPECT_EQ(wait, std::chrono::seconds(4));
    clock.now += wait - std::chrono::milliseconds(1);
    EXPECT_GT(limiter.Take(1).count(), 0);
    clock.now += std::chrono::milliseconds(1);
    EXPECT_EQ(limiter.Take(1).count(), 0);
    EXPECT_EQ(limiter.GetPassed(), first + 1);
}

TEST(RateLimiterTest, AnIdleSpellSavesNoMoreThanOneBurst) {
    FakeClock clock;
    RateLimiter limiter(10'000, clock.Reader());
    clock.now += std::chrono::hours(1);
    std::uint64_t passed = 0;
    while (limiter.Take(100).count() == 0)
        passed += 100;
    EXPECT_LE(passed, limiter.GetBurst() + 100);
    EXPECT_GE(passed, limiter.GetBurst());
}

TEST(RateLimiterTest, ZeroRateIsRefused) { EXPECT_THROW(RateLimiter(0), std::invalid_argument); }

}  // namespace
}  // namespace vrexa::http
