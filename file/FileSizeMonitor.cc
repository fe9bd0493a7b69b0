#include "file/FileSizeMonitor.h"

namespace vrexa::file {

void FileSizeMonitor::Extend(std::uint64_t newSize) {
    std::lock_guard<std::mutex> lock(mutex);
    if (newSize > size) {
        size = newSize;
    }
}

std::uint64_t FileSizeMonitor::GetSize() {
    std::lock_guard<std::mutex> lock(mutex);
    return size;
}

}  // namespace vrexa::file
