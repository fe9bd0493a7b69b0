#pragma once

#include <memory>
#include <mutex>
#include <optional>

namespace vrexa::file {

// Shared by a Filesystem and every shared file opened from it with
// synchronization asked for. Holding the lock serializes disk operations on
// those files; it is recursive so that an operation holding it may call
// another one that takes it again.
struct OperationContext {
    std::recursive_mutex mutex;
};

using OperationLock = std::optional<std::unique_lock<std::recursive_mutex>>;

// Holds the file operation lock when there is a context, nothing otherwise.
inline OperationLock LockOperations(const std::shared_ptr<OperationContext>& context) {
    if (!context) {
        return std::nullopt;
    }
    return std::unique_lock<std::recursive_mutex>(context->mutex);
}

}  // namespace vrexa::file
