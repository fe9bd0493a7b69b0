#include "file/posix/MemoryMap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include "file/Exception.h"
#include "file/posix/Errors.h"
#include "file/posix/FaultGuard.h"

namespace vrexa::file::posix {

namespace {

// Visit reads at most this much at a time.
constexpr std::uint64_t kVisitPiece = 256 * 1024;

std::uint64_t PageSize() {
    static const auto size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

MemoryMap::MemoryMap(int descriptor, std::shared_ptr<OperationContext> context)
    : descriptor_(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0)), context_(std::move(context)) {
    if (!descriptor_) {
        ThrowLastError();
    }
    const int flags = ::fcntl(descriptor_.Get(), F_GETFL);
    readOnly_ = flags >= 0 && (flags & O_ACCMODE) == O_RDONLY;
}

MemoryMap::~MemoryMap() {
    const auto lock = LockOperations(context_);
    descriptor_.Reset();
}

std::shared_ptr<MemoryMapView> MemoryMap::CreateView(std::uint64_t lower, std::uint64_t upper) {
    return std::make_shared<MemoryMapView>(shared_from_this(), context_, lower, upper);
}

MemoryMapView::MemoryMapView(std::shared_ptr<MemoryMap> map, std::shared_ptr<OperationContext> context,
                             std::uint64_t lower, std::uint64_t upper)
    : MemoryMappedData(lower, upper), map_(std::move(map)), context_(std::move(context)) {
    CheckOwnBounds();
    mapStart_ = lower - lower % PageSize();
    CheckSize(mapStart_, upper);
    headLength_ = static_cast<std::size_t>(lower - mapStart_);
    mappedLength_ = static_cast<std::size_t>(upper - mapStart_ + 1);
    readOnly_ = map_->readOnly_;
}

MemoryMapView::~MemoryMapView() {
    if (address_ != nullptr) {
        FaultGuard::Unregister(guardSlot_);
        ::munmap(address_, mappedLength_);
    }
}

std::uint8_t* MemoryMapView::Address() {
    if (address_ != nullptr) {
        return address_;
    }
    void* address = ::mmap(nullptr, mappedLength_, readOnly_ ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED,
                           map_->descriptor_.Get(), static_cast<off_t>(mapStart_));
    if (address == MAP_FAILED) {
        ThrowLastError();
    }
    try {
        guardSlot_ = FaultGuard::Register(address, mappedLength_);
    } catch (...) {
        ::munmap(address, mappedLength_);
        throw;
    }
    address_ = static_cast<std::uint8_t*>(address);
    return address_;
}

bool MemoryMapView::IsBroken() const { return cut_ || (address_ != nullptr && FaultGuard::HasFaulted(guardSlot_)); }

void MemoryMapView::ThrowIfBroken() const {
    if (IsBroken()) {
        throw InvalidMapException();
    }
}

void MemoryMapView::ThrowIfReadOnly() const {
    if (readOnly_) {
        throw InaccessibleException();
    }
}

std::uint64_t MemoryMapView::GetPosition() { return GetLower() + offset_; }

void MemoryMapView::Seek(std::uint64_t position) {
    CheckRange(position, position);
    offset_ = static_cast<std::uint32_t>(position - GetLower());
}

std::uint8_t* MemoryMapView::TakeUnchecked(std::size_t size) {
    CheckSpan(GetPosition(), size);
    std::uint8_t* at = Data() + offset_;
    offset_ += static_cast<std::uint32_t>(size);
    return at;
}

std::uint8_t* MemoryMapView::Take(std::size_t size) {
    if (size == 0) {
        return nullptr;
    }
    ThrowIfReadOnly();
    ThrowIfBroken();
    return TakeUnchecked(size);
}

std::size_t MemoryMapView::Read(void* buffer, std::size_t size) {
    const std::size_t count = std::min(size, kReadPiece);
    if (count == 0) {
        return 0;
    }
    ThrowIfBroken();
    const std::uint32_t before = offset_;
    const std::uint8_t* from = TakeUnchecked(count);
    std::memcpy(buffer, from, count);
    if (IsBroken()) {
        offset_ = before;
        throw InvalidMapException();
    }
    return count;
}

std::size_t MemoryMapView::Write(const void* buffer, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    ThrowIfReadOnly();
    ThrowIfBroken();
    const std::uint64_t position = GetPosition();
    CheckSpan(position, size);
    // Writing past the file's end would grow it where a store through the
    // mapping faults: a file cut short underneath breaks the view instead.
    ThrowIfCut();
    WriteAt(map_->descriptor_.Get(), buffer, size, position);
    offset_ += static_cast<std::uint32_t>(size);
    return size;
}

std::uint8_t* MemoryMapView::Data() { return Address() + headLength_; }

void MemoryMapView::Visit(const Visitor& function) {
    ThrowIfBroken();
    // Read from the file in pieces rather than through the mapping: copying
    // a piece that stays in the processor's cache costs far less than making
    // every page of the range present in this process, and mapping nothing
    // leaves nothing to unmap.
    const std::uint64_t length = GetLength();
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(length, kVisitPiece));
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[piece]);
    for (std::uint64_t at = 0; at < length;) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(piece, length - at));
        ReadAt(buffer.get(), size, GetLower() + at);
        function(buffer.get(), size);
        at += size;
    }
}

void MemoryMapView::ReadAt(std::uint8_t* buffer, std::size_t size, std::uint64_t position) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(map_->descriptor_.Get(), buffer + done, size - done, static_cast<off_t>(position + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // The file no longer holds the range, or its storage failed: what
            // an access through the mapping would have met as a fault.
            cut_ = true;
            throw InvalidMapException();
        }
        done += static_cast<std::size_t>(got);
    }
}

void MemoryMapView::ThrowIfCut() {
    struct stat status {};
    if (::fstat(map_->descriptor_.Get(), &status) != 0) {
        ThrowLastError();
    }
    if (static_cast<std::uint64_t>(status.st_size) <= GetUpper()) {
        cut_ = true;
        throw InvalidMapException();
    }
}

void MemoryMapView::Fetch() {
    // Paging in is not a file operation of its own: it runs without the file
    // operation lock, so the chunks of every file can be brought in at once.
    ThrowIfBroken();
    ThrowIfCut();
    // Visit reads through the file, so the range is brought into the page
    // cache, not into this process; the read is started here and completes
    // in the background. Failure only loses the head start.
    ::posix_fadvise(map_->descriptor_.Get(), static_cast<off_t>(GetLower()), static_cast<off_t>(GetLength()),
                    POSIX_FADV_WILLNEED);
}

void MemoryMapView::Flush() {
    const auto lock = LockOperations(context_);
    ThrowIfBroken();
    if (readOnly_) {
        return;  // nothing can have changed
    }
    // The range's pages reach the disk however they were written.
    if (::msync(Address(), mappedLength_, MS_SYNC) != 0) {
        ThrowLastError();
    }
}

}  // namespace vrexa::file::posix
