#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "file/FileSizeMonitor.h"
#include "file/MemoryMappedData.h"
#include "file/OperationContext.h"

namespace vrexa::file {

class SharedFile;

// A chunk's window while the file is still shorter than the chunk: the range
// is collected in a zero-filled buffer (pre-loaded with whatever the file
// already holds of it) and written in one piece by Flush, once the file has
// grown to the lower bound or the wait limit has run out.
class SequentialWriteCache : public MemoryMappedData {
public:
    // file is the cache's own clone of the range; monitor is required
    // (std::invalid_argument when null); waitSeconds 0 means no waiting.
    SequentialWriteCache(std::shared_ptr<SharedFile> file, std::shared_ptr<OperationContext> context,
                         std::shared_ptr<FileSizeMonitor> monitor, std::uint64_t lower, std::uint64_t upper,
                         std::uint32_t waitSeconds);
    ~SequentialWriteCache() override;

    std::uint64_t GetPosition() override;
    void Seek(std::uint64_t position) override;
    std::size_t Read(void* buffer, std::size_t size) override;
    std::size_t Write(const void* buffer, std::size_t size) override;

    std::uint8_t* Take(std::size_t size) override;
    std::uint8_t* Data() override;
    void Visit(const Visitor& function) override;
    void Fetch() override;
    // Waits for the file to grow to the lower bound (at most the wait limit,
    // and not at all once cancelled), then writes the whole range.
    void Flush() override;
    // Ends the wait of Flush for good; the bytes are then written at once, as
    // when the wait limit runs out, so a verified range is not lost.
    void Cancel() override;

    bool IsLoaded() const { return loaded_; }

private:
    void EnsureLoaded();
    void WaitForLowerBound();

    std::uint8_t* buffer_ = nullptr;
    std::uint32_t offset_ = 0;
    bool loaded_ = false;
    std::shared_ptr<SharedFile> file_;
    std::shared_ptr<OperationContext> context_;
    std::shared_ptr<FileSizeMonitor> monitor_;
    std::uint32_t waitSeconds_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace vrexa::file
