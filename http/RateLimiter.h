#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vrexa::http {

// Holds the bytes of every request that shares it to one rate, so that a
// download run in the background leaves the rest of a shared link free.
//
// A token bucket that may go into debt: a block passes whenever the balance is
// not negative, and is charged in full, so a writer never has to split what
// the network handed it. Over any span of time the bytes let through are
// therefore at most rate × span + GetBurst() + one block, and a caller that
// keeps asking is never held below the rate.
class RateLimiter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // bytesPerSecond must be positive. The clock is the steady clock unless a
    // test drives its own.
    explicit RateLimiter(std::uint64_t bytesPerSecond, Clock clock = &std::chrono::steady_clock::now);

    RateLimiter(const RateLimiter&) = delete;
    RateLimiter& operator=(const RateLimiter&) = delete;

    // Zero when `bytes` may pass now (they are charged); otherwise how long to
    // wait before asking again (nothing is charged).
    std::chrono::nanoseconds Take(std::uint64_t bytes);

    std::uint64_t GetRate() const { return rate_; }
    // The most the balance holds after an idle spell.
    std::uint64_t GetBurst() const { return burst_; }
    // How many bytes a request should read at a time, so that one block is a
    // small part of what the rate allows in a second.
    std::uint64_t GetBlockSize() const { return block_; }
    // Every byte let through so far.
    std::uint64_t GetPassed() const;

private:
    const std::uint64_t rate_;
    const std::uint64_t burst_;
    const std::uint64_t block_;
    const Clock clock_;
    mutable std::mutex mutex_;
    // Guarded by mutex_: bytes that may pass, negative while in debt, as of last_.
    double balance_;
    std::chrono::steady_clock::time_point last_;
    std::uint64_t passed_ = 0;
};

}  // namespace vrexa::http
