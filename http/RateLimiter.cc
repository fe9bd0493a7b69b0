#include "http/RateLimiter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vrexa::http {
namespace {

// libcurl reads at least 1 KiB at a time and we never want more than the
// 256 KiB a ranged request reads unlimited.
constexpr std::uint64_t kSmallestBlock = 1024;
constexpr std::uint64_t kLargestBlock = 256 * 1024;

// A fiftieth of a second's worth per read keeps one block well inside the
// tolerance of a few seconds' average, and the burst of a twentieth of a
// second lets a request that just woke up go on without another wait.
std::uint64_t BlockFor(std::uint64_t rate) { return std::clamp(rate / 50, kSmallestBlock, kLargestBlock); }
std::uint64_t BurstFor(std::uint64_t rate) { return std::max(rate / 20, BlockFor(rate)); }

}  // namespace

RateLimiter::RateLimiter(std::uint64_t bytesPerSecond, Clock clock)
    : rate_(bytesPerSecond),
      burst_(BurstFor(bytesPerSecond)),
      block_(BlockFor(bytesPerSecond)),
      clock_(std::move(clock)),
      balance_(static_cast<double>(burst_)),
      last_(clock_()) {
    if (bytesPerSecond == 0) {
        throw std::invalid_argument("RateLimiter needs a positive rate");
    }
}

std::chrono::nanoseconds RateLimiter::Take(std::uint64_t bytes) {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    if (now > last_) {
        const double seconds = std::chrono::duration<double>(now - last_).count();
        balance_ = std::min(balance_ + seconds * static_cast<double>(rate_), static_cast<double>(burst_));
        last_ = now;
    }
    if (balance_ < 0) {
        // Rounded up, so that the caller wakes when the debt is paid, not just before.
        const double wait = std::ceil(-balance_ * 1e9 / static_cast<double>(rate_));
        return std::chrono::nanoseconds(std::max<std::int64_t>(static_cast<std::int64_t>(wait), 1));
    }
    balance_ -= static_cast<double>(bytes);
    passed_ += bytes;
    return std::chrono::nanoseconds(0);
}

std::uint64_t RateLimiter::GetPassed() const {
    std::lock_guard lock(mutex_);
    return passed_;
}

}  // namespace vrexa::http
