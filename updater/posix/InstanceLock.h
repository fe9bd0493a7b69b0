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

    // True when this process now holds the folder's lock (the folder must
    // exist); false when another one holds it or the file cannot be opened.
    bool Acquire(const std::string& folder);
    void Release();

    static constexpr const char* kFileName = ".orbiq-update.lock";

private:
    int fd_ = -1;
};

}  // namespace vrexa::updater::posix
