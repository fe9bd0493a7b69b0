#include "transfer/ProgressCounter.h"

namespace vrexa {

void ProgressCounter::Subtract(std::uint64_t amount) {
    std::uint64_t current = value_.load(std::memory_order_acquire);
    while (!value_.compare_exchange_weak(current, current > amount ? current - amount : 0, std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
    }
}

std::uint64_t DeltaCounter::TakeDelta() {
    std::lock_guard<std::mutex> guard(lock_);
    const std::uint64_t value = counter_.Load();
    const std::uint64_t delta = value - mark_;
    mark_ = value;
    return delta;
}

}  // namespace vrexa
