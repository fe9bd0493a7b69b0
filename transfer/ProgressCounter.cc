#include "transfer/ProgressCounter.h"

namespace vrexa {

void ProgressCounter::Subtract(std::uint64_t amount) {
    std::uint64_t current = value.load(std::memory_order_acquire);
    while (!value.compare_exchange_weak(current, current > amount ? current - amount : 0, std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
    }
}

std::uint64_t DeltaCounter::TakeDelta() {
    std::lock_guard<std::mutex> guard(lock);
    const std::uint64_t value = counter.Load();
    const std::uint64_t delta = value - mark;
    mark = value;
    return delta;
}

}  // namespace vrexa
