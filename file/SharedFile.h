#pragma once

#include <cstdint>
#include <memory>

#include "file/BoundedData.h"
#include "file/FileSizeMonitor.h"
#include "file/MemoryMappedData.h"
#include "file/OperationContext.h"

namespace vrexa::file {

class SequentialWriteCache;

enum class OpenMode {
    OpenOrCreate = 0,  // open, creating the file if missing
    CreateNew = 1,     // fail if the file exists
    OpenExisting = 2,  // fail if the file is missing
    // Like OpenExisting, but for reading only: views are read-only and any
    // write through the file or a view fails, so checking a file in place
    // can never change it (and works on files the user may not write).
    OpenExistingReadOnly = 3,
};

// An output file held by many works at once, each writing its own byte range
// through a window (Map or CreateWriteCache). The file's own position is
// shared by every holder, so chunk data never goes through Read/Write here.
class SharedFile : public BoundedData {
public:
    // context is empty unless the file was opened with synchronization; a
    // null monitor makes a fresh one.
    SharedFile(std::shared_ptr<OperationContext> context, std::shared_ptr<FileSizeMonitor> monitor, std::uint64_t lower,
               std::uint64_t upper);
    ~SharedFile() override;

    // The file's current size in bytes.
    virtual std::uint64_t GetSize() = 0;
    // Extends an empty file to size bytes with its blocks reserved and seeks to
    // 0; false (nothing done) when the file already has bytes; true for size 0.
    virtual bool Preallocate(std::uint64_t size) = 0;
    // Undoes DenyExecute; never throws, false on failure.
    virtual bool AllowExecute() = 0;
    // Makes the file impossible to execute; never throws, false on failure.
    virtual bool DenyExecute() = 0;
    // A view of the file's own range.
    virtual std::shared_ptr<MemoryMappedData> Map();
    // A mapped view of [lower, upper]; InvalidMapException unless upper is
    // below the file's current size.
    virtual std::shared_ptr<MemoryMappedData> Map(std::uint64_t lower, std::uint64_t upper) = 0;
    // A new file object with its own descriptor over the same path and bounds.
    virtual std::shared_ptr<SharedFile> Clone();
    virtual std::shared_ptr<SharedFile> Clone(std::uint64_t lower, std::uint64_t upper) = 0;
    // Flushes the file's buffers to disk.
    virtual void Flush() = 0;

    // An in-memory window of [lower, upper] written to the file in file order
    // by its Flush, waiting at most waitSeconds for the file to grow to lower.
    std::shared_ptr<SequentialWriteCache> CreateWriteCache(std::uint64_t lower, std::uint64_t upper,
                                                           std::uint32_t waitSeconds);

    const std::shared_ptr<OperationContext>& GetOperationContext() const { return context_; }
    const std::shared_ptr<FileSizeMonitor>& GetSizeMonitor() const { return monitor_; }

private:
    std::shared_ptr<OperationContext> context_;
    std::shared_ptr<FileSizeMonitor> monitor_;
};

}  // namespace vrexa::file
