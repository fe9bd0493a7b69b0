#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vrexa {

// A 64-bit counter shared between work threads and the thread taking
// snapshots. Every access is a single 64-bit atomic operation, so a reader
// never sees half of an update.
class ProgressCounter {
public:
    std::uint64_t Load() const { return value_.load(std::memory_order_acquire); }
    void Add(std::uint64_t amount) { value_.fetch_add(amount, std::memory_order_acq_rel); }
    // Stops at zero: a correction larger than what was counted must not wrap
    // around to an enormous count.
    void Subtract(std::uint64_t amount);

private:
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
                  "progress counters are updated from work threads without locks");
    std::atomic<std::uint64_t> value_{0};
};

// A counter that also remembers its value at the last TakeDelta, so a periodic
// report can say how much was added since the previous one.
class DeltaCounter {
public:
    std::uint64_t Load() const { return counter_.Load(); }
    void Add(std::uint64_t amount) { counter_.Add(amount); }
    // value - mark, and the mark moves to the value.
    std::uint64_t TakeDelta();

private:
    ProgressCounter counter_;
    std::mutex lock_;
    std::uint64_t mark_ = 0;
};

}  // namespace vrexa
