#include "file/SequentialWriteCache.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

#include "file/Exception.h"
#include "file/SharedFile.h"

namespace vrexa::file {

SequentialWriteCache::SequentialWriteCache(std::shared_ptr<SharedFile> file, std::shared_ptr<OperationContext> context,
                                           std::shared_ptr<FileSizeMonitor> monitor, std::uint64_t lower,
                                           std::uint64_t upper, std::uint32_t waitSeconds)
    : MemoryMappedData(lower, upper),
      file_(std::move(file)),
      context_(std::move(context)),
      monitor_(std::move(monitor)),
      waitSeconds_(waitSeconds) {
    CheckOwnBounds();
    if (!monitor_) {
        throw std::invalid_argument("SequentialWriteCache constructor received null monitor");
    }
    // calloc leaves large zero buffers to the kernel's zero pages until written.
    buffer_ = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(GetLength()), 1));
    if (!buffer_) {
        ThrowBadAllocation();
    }
}

SequentialWriteCache::~SequentialWriteCache() { std::free(buffer_); }

std::uint64_t SequentialWriteCache::GetPosition() { return GetLower() + offset_; }

void SequentialWriteCache::Seek(std::uint64_t position) {
    CheckRange(position, position);
    offset_ = static_cast<std::uint32_t>(position - GetLower());
}

void SequentialWriteCache::EnsureLoaded() {
    if (!loaded_) {
        Fetch();
    }
}

void SequentialWriteCache::Fetch() {
    if (file_->GetSize() <= GetLower()) {
        loaded_ = true;
        return;
    }
    const std::uint32_t remembered = offset_;
    offset_ = 0;
    try {
        file_->Seek(GetLower());
        const std::uint64_t length = GetLength();
        std::uint64_t loaded = 0;
        while (loaded < length) {
            const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(length - loaded, kReadPiece));
            const std::size_t count = file_->Read(buffer_ + loaded, piece);
            if (count == 0) {
                break;
            }
            loaded += count;
        }
    } catch (...) {
        offset_ = remembered;
        throw;
    }
    offset_ = remembered;
    loaded_ = true;
}

std::size_t SequentialWriteCache::Write(const void* buffer, std::size_t size) {
    EnsureLoaded();
    if (size == 0) {
        return 0;
    }
    CheckSpan(GetPosition(), size);
    std::memcpy(buffer_ + offset_, buffer, size);
    offset_ += static_cast<std::uint32_t>(size);
    return size;
}

std::uint8_t* SequentialWriteCache::Take(std::size_t size) {
    EnsureLoaded();
    if (size == 0) {
        return nullptr;
    }
    CheckSpan(GetPosition(), size);
    std::uint8_t* at = buffer_ + offset_;
    offset_ += static_cast<std::uint32_t>(size);
    return at;
}

std::size_t SequentialWriteCache::Read(void* buffer, std::size_t size) {
    const std::size_t count = std::min(size, kReadPiece);
    const std::uint8_t* from = Take(count);
    if (count != 0) {
        std::memcpy(buffer, from, count);
    }
    return count;
}

std::uint8_t* SequentialWriteCache::Data() {
    EnsureLoaded();
    return buffer_;
}

void SequentialWriteCache::Visit(const Visitor& function) {
    EnsureLoaded();
    function(buffer_, static_cast<std::size_t>(GetLength()));
}

void SequentialWriteCache::WaitForLowerBound() {
    if (waitSeconds_ == 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds_);
    std::unique_lock<std::mutex> lock(monitor_->mutex);
    // When the limit runs out the write goes ahead anyway: a cache ahead of a
    // stalled one must not wait forever. A cancelled work must not wait at
    // all: pausing or shutting down would otherwise hang for the whole limit.
    monitor_->condition.wait_until(lock, deadline,
                                   [this] { return monitor_->size >= GetLower() || cancelled_.load(); });
}

void SequentialWriteCache::Cancel() {
    {
        // Set under the monitor's mutex so that a Flush between its check and
        // its wait cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(monitor_->mutex);
        cancelled_ = true;
    }
    monitor_->condition.notify_all();
}

void SequentialWriteCache::Flush() {
    WaitForLowerBound();
    {
        const auto lock = LockOperations(context_);
        file_->Seek(GetLower());
        const auto length = static_cast<std::size_t>(GetLength());
        if (file_->Write(buffer_, length) != length) {
            throw UnknownException();
        }
    }
    monitor_->Extend(GetUpper() + 1);
    monitor_->condition.notify_all();
}

}  // namespace vrexa::file
