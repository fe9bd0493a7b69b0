#pragma once

namespace vrexa::cli {

// Exit codes, as scripts read them.
enum ExitCode : int {
    kExitComplete = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitMismatch = 3,
    kExitInterrupted = 130,
};

}  // namespace vrexa::cli
