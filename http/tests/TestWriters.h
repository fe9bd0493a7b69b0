#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "file/BoundedData.h"
#include "http/WriteCallback.h"

namespace vrexa::http::testing {

// Collects the body and lets a test wait until a number of bytes has arrived.
class CollectingWriter : public WriteCallback {
public:
    RequestStatus Write(const char* data, std::size_t size) override {
        std::lock_guard lock(mutex_);
        body_.append(data, size);
        changed_.notify_all();
        RequestStatus result;
        result.state = State::Succeeded;
        result.bytes = size;
        return result;
    }

    bool WaitForBytes(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return body_.size() >= count; });
    }

    std::string Body() {
        std::lock_guard lock(mutex_);
        return body_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string body_;
};

// A bounded region in memory: [lower, upper] of a buffer, written from a
// position; writes past the upper bound raise OutOfBoundsException. When
// writeLimit is set, each Write takes at most that many bytes (a short write).
class MemoryBoundedData : public file::BoundedData {
public:
    MemoryBoundedData(std::uint64_t lower, std::uint64_t upper)
        : BoundedData(lower, upper), bytes_(upper - lower + 1, '\0'), position_(lower) {}

    std::uint64_t GetPosition() override { return position_; }
    void Seek(std::uint64_t position) override {
        CheckRange(position, position);
        position_ = position;
    }
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* buffer, std::size_t size) override {
        CheckSpan(position_, size);
        const std::size_t count = writeLimit_ == 0 ? size : std::min(size, writeLimit_);
        std::memcpy(bytes_.data() + (position_ - GetLower()), buffer, count);
        position_ += count;
        return count;
    }

    void SetWriteLimit(std::size_t limit) { writeLimit_ = limit; }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    std::uint64_t position_;
    std::size_t writeLimit_ = 0;
};

}  // namespace vrexa::http::testing
