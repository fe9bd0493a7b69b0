#pragma once

#include <mutex>

namespace vrexa::file {

// Shared by a Filesystem and every shared file opened from it with
// synchronization asked for. Holding the lock serializes disk operations on
// those files; it is recursive so that an operation holding it may call
// another one that takes it again.
struct OperationContext {
    std::recursive_mutex mutex;
};

}  // namespace vrexa::file
