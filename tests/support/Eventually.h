#pragma once

#include <chrono>
#include <thread>

namespace vrexa::testsupport {

// How long a test waits for something another thread or process makes true
// before it calls it a failure: long, because a loaded machine is slow, and
// costing nothing when the condition comes true early.
inline constexpr std::chrono::seconds kEventuallyDeadline{30};

// Waits until condition() holds, asking again every millisecond; false when
// it still does not hold at the deadline. The short pause keeps the wait
// prompt without taking a core from the threads it waits for.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds deadline = kEventuallyDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vrexa::testsupport
