#pragma once

#include <string>

namespace vrexa::updater::posix {

// One updater at a time per data folder: a second one would download into
// the same files and start the package twice. The lock is an advisory lock on
// a file in the folder, released by the system however the holder ends.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result {
        Acquired,
        // Another process holds it: another updater is running.
        HeldElsewhere,
        // The lock file cannot be opened or locked (a folder or a link at its
        // place, a missing or read-only folder): a storage problem.
        Unavailable,
    };

    // Takes the folder's lock (the folder must exist); the lock file is the
    // owner's alone (0600).
    Result Acquire(const std::string& folder);
    void Release();

    static constexpr const char* kFileName = ".orbiq-update.lock";

private:
    int fd_ = -1;
};

}  // namespace vrexa::updater::posix
