#pragma once

#include <cstdint>

namespace vrexa {

// The outcome of a work. The numbers are written into logs and analytics, so
// they never change.
enum class WorkResult : std::uint8_t {
    Success = 0,
    // Negative but not fatal by itself: ends a sequence, picks a conditional's
    // second branch, becomes FatalError inside a parallel work.
    Failure = 1,
    // Interrupted by the cancel flag; the workflow queues the work again.
    Cancelled = 2,
    RetryableError = 3,
    // Failed for good; finishes the whole workflow.
    FatalError = 4,
};

// Only a final outcome completes a composite; the other two send the work
// around again.
inline bool IsFinalResult(WorkResult result) {
    return result != WorkResult::Cancelled && result != WorkResult::RetryableError;
}

}  // namespace vrexa
