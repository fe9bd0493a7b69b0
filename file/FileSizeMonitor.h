#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vrexa::file {

// What the write caches of one file know of its size: each cache waits here
// until the file has grown to the start of its range, so that a file that was
// not preallocated grows strictly from front to back.
struct FileSizeMonitor {
    std::mutex mutex;
    std::condition_variable condition;
    std::uint64_t size = 0;

    // Raises the known size to size (never lowers it). Does not notify.
    void Extend(std::uint64_t newSize);
    std::uint64_t GetSize();
};

}  // namespace vrexa::file
