#pragma once

#include <cstdint>

namespace vrexa {

enum class WorkflowState : std::uint8_t {
    NotStarted = 0,
    Running = 1,
    // Paused by the user; nothing is dispatched.
    Paused = 2,
    // Stopped after a retryable error, waiting for Retry.
    Suspended = 3,
    PausedSuspended = 4,
    // The root finished, or a fatal error happened.
    Finished = 5,
    Cancelled = 6,
};

}  // namespace vrexa
