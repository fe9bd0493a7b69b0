#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "file/MemoryMappedData.h"
#include "file/OperationContext.h"
#include "file/posix/UniqueDescriptor.h"

namespace vrexa::file::posix {

class MemoryMapView;

// The mapping side of a shared file. Views are mapped on demand from a
// descriptor of its own, so a view may reach any byte the file holds when the
// view is made (the file checks that), even after the file has grown.
class MemoryMap : public std::enable_shared_from_this<MemoryMap> {
public:
    // Duplicates descriptor: views keep the map alive, not the file object.
    MemoryMap(int descriptor, std::shared_ptr<OperationContext> context);
    ~MemoryMap();

    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;

    std::shared_ptr<MemoryMapView> CreateView(std::uint64_t lower, std::uint64_t upper);

private:
    friend class MemoryMapView;

    UniqueDescriptor descriptor_;
    // The descriptor was opened for reading only: views are mapped read-only.
    bool readOnly_ = false;
    std::shared_ptr<OperationContext> context_;
};

// A window [lower, upper] of a mapped file. The view starts on the page below
// lower and is mapped the first time its memory is needed (Data, Take, Read,
// Flush). Write, Visit and Fetch go through the file at the view's offsets
// instead (the page cache is the same either way): a download is spared the
// fault and the zero-fill of every fresh page, and a check the cost of making
// every page present in the process and unmapping it again.
//
// An access fault on the mapped memory (the file truncated underneath, the
// disk gone) never kills the process: the faulting page is replaced with
// scratch memory, the view is marked broken, and the guarded operations (and
// every later one) raise InvalidMapException. A write, check or prefetch
// that finds the file no longer holding the whole range breaks the view the
// same way.
class MemoryMapView : public MemoryMappedData {
public:
    MemoryMapView(std::shared_ptr<MemoryMap> map, std::shared_ptr<OperationContext> context, std::uint64_t lower,
                  std::uint64_t upper);
    ~MemoryMapView() override;

    std::uint64_t GetPosition() override;
    void Seek(std::uint64_t position) override;
    std::size_t Read(void* buffer, std::size_t size) override;
    std::size_t Write(const void* buffer, std::size_t size) override;

    std::uint8_t* Take(std::size_t size) override;
    std::uint8_t* Data() override;
    void Visit(const Visitor& function) override;
    void Fetch() override;
    void Flush() override;

    // Whether an access fault has hit the view's memory or the file was
    // found cut short.
    bool IsBroken() const;

private:
    void ThrowIfBroken() const;
    // InaccessibleException for a read-only view.
    void ThrowIfReadOnly() const;
    std::uint8_t* TakeUnchecked(std::size_t size);
    // The start of the mapping, made on first use.
    std::uint8_t* Address();
    // Reads [position, position + size) from the file; InvalidMapException
    // (and the view broken) when the file cannot give all of it.
    void ReadAt(std::uint8_t* buffer, std::size_t size, std::uint64_t position);
    // InvalidMapException (and the view broken) when the file no longer
    // reaches the view's upper bound.
    void ThrowIfCut();

    std::shared_ptr<MemoryMap> map_;
    std::shared_ptr<OperationContext> context_;
    std::uint8_t* address_ = nullptr;  // start of the mapping (page aligned)
    std::size_t mappedLength_ = 0;
    std::size_t headLength_ = 0;  // from the mapping's start to lower
    std::uint32_t offset_ = 0;    // from lower to the current position
    std::uint64_t mapStart_ = 0;  // file offset of address_
    int guardSlot_ = -1;
    bool readOnly_ = false;
    bool cut_ = false;  // the file was found shorter than the view
};

}  // namespace vrexa::file::posix
