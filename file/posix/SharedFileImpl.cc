#include "file/posix/SharedFileImpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

#include "file/Exception.h"
#include "file/posix/Errors.h"
#include "file/posix/MemoryMap.h"
#include "file/posix/OpenBeneath.h"

namespace vrexa::file::posix {

namespace {

constexpr mode_t kExecuteBits = S_IXUSR | S_IXGRP | S_IXOTH;

// Reserves the first size bytes of an empty file: 0 or an error number.
// fallocate itself, never the library's posix_fallocate, which on a file
// system without it writes the file block by block (millions of round trips,
// all under the file operation lock); there, setting the size has to do.
int Reserve(int descriptor, std::uint64_t size) {
    int result;
    do {
        result = ::fallocate(descriptor, 0, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != ENOSYS) {
        return errno;
    }
    return ::ftruncate(descriptor, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

}  // namespace

UniqueDescriptor SharedFileImpl::OpenDescriptor(int folder, const std::vector<std::string>& components, OpenMode mode) {
    // Non-blocking only while opening: a pipe planted at the name must not
    // hold the open until someone writes to it.
    int flags = O_RDWR | O_NONBLOCK;
    bool creating = false;
    switch (mode) {
        case OpenMode::OpenOrCreate:
            flags |= O_CREAT;
            creating = true;
            break;
        case OpenMode::CreateNew:
            flags |= O_CREAT | O_EXCL;
            creating = true;
            break;
        case OpenMode::OpenExisting:
            break;
        case OpenMode::OpenExistingReadOnly:
            flags = O_RDONLY | O_NONBLOCK;
            break;
    }
    UniqueDescriptor descriptor = OpenBeneath(folder, components, flags, 0644, creating);
    struct stat status {};
    if (::fstat(descriptor.Get(), &status) != 0) {
        ThrowLastError();
    }
    // Not file data: a folder, or a pipe or socket, whose reads would wait
    // for a writer. (Devices can only be made by the administrator.)
    if (S_ISDIR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
        throw BadPathException();
    }
    // The flag means nothing to a regular file; anything else gets blocking
    // I/O back.
    if (!S_ISREG(status.st_mode) && ::fcntl(descriptor.Get(), F_SETFL, flags & ~(O_NONBLOCK | O_CREAT | O_EXCL)) != 0) {
        ThrowLastError();
    }
    return descriptor;
}

SharedFileImpl::SharedFileImpl(UniqueDescriptor descriptor, std::shared_ptr<const UniqueDescriptor> folder,
                               std::string base, std::vector<std::string> components,
                               std::shared_ptr<OperationContext> context, std::shared_ptr<FileSizeMonitor> monitor,
                               std::uint64_t lower, std::uint64_t upper)
    : SharedFile(std::move(context), std::move(monitor), lower, upper),
      descriptor_(std::move(descriptor)),
      position_(lower),
      folder_(std::move(folder)),
      base_(std::move(base)),
      components_(std::move(components)),
      path_(base_) {
    for (const std::string& component : components_) {
        path_ += "/" + component;
    }
    if (lower > upper) {
        throw OutOfBoundsException();
    }
}

SharedFileImpl::~SharedFileImpl() {
    const auto lock = LockOperations(GetOperationContext());
    map_.reset();
    descriptor_.Reset();
}

std::uint64_t SharedFileImpl::GetPosition() { return position_.load(); }

void SharedFileImpl::Seek(std::uint64_t position) {
    CheckRange(position, position);
    position_.store(position);
}

std::size_t SharedFileImpl::Read(void* buffer, std::size_t size) {
    const std::size_t count = std::min(size, kReadPiece);
    if (count == 0) {
        return 0;
    }
    const std::uint64_t position = position_.load();
    CheckSpan(position, count);
    const auto lock = LockOperations(GetOperationContext());
    ssize_t done;
    do {
        done = ::pread(descriptor_.Get(), buffer, count, static_cast<off_t>(position));
    } while (done < 0 && errno == EINTR);
    if (done < 0) {
        ThrowLastError();
    }
    position_.store(position + static_cast<std::uint64_t>(done));
    return static_cast<std::size_t>(done);
}

std::size_t SharedFileImpl::Write(const void* buffer, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint64_t position = position_.load();
    CheckSpan(position, size);
    const auto lock = LockOperations(GetOperationContext());
    // One logical write; the kernel may take it in several pieces.
    WriteAt(descriptor_.Get(), buffer, size, position);
    position_.store(position + size);
    return size;
}

std::uint64_t SharedFileImpl::GetSize() {
    struct stat status {};
    if (::fstat(descriptor_.Get(), &status) != 0) {
        ThrowLastError();
    }
    return static_cast<std::uint64_t>(status.st_size);
}

bool SharedFileImpl::Preallocate(std::uint64_t size) {
    const auto lock = LockOperations(GetOperationContext());
    if (GetSize() != 0) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    CheckRange(0, size - 1);
    // Reserving the blocks up front turns a full disk into an error here
    // instead of a fault while writing through a mapping later.
    int error = Reserve(descriptor_.Get(), size);
    if (error != 0) {
        // The file was empty before; leave it so rather than half-reserved.
        if (::ftruncate(descriptor_.Get(), 0) != 0) {
            // The reservation's failure is what the caller hears.
        }
        ThrowError(error);
    }
    Seek(0);
    return true;
}

bool SharedFileImpl::DenyExecute() {
    struct stat status {};
    if (::fstat(descriptor_.Get(), &status) != 0) {
        return false;
    }
    return ::fchmod(descriptor_.Get(), status.st_mode & 07777 & ~kExecuteBits) == 0;
}

bool SharedFileImpl::AllowExecute() {
    struct stat status {};
    if (::fstat(descriptor_.Get(), &status) != 0) {
        return false;
    }
    const mode_t mode = status.st_mode & 07777;
    // Execute for every class that may read: owner, group, others.
    const mode_t allowed = mode | ((mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2);
    return allowed == mode || ::fchmod(descriptor_.Get(), allowed) == 0;
}

std::shared_ptr<MemoryMappedData> SharedFileImpl::Map(std::uint64_t lower, std::uint64_t upper) {
    CheckRange(lower, upper);
    CheckSize(lower, upper);
    if (upper >= GetSize()) {
        throw InvalidMapException();
    }
    std::shared_ptr<MemoryMap> map;
    {
        std::lock_guard<std::mutex> lock(mapMutex_);
        if (!map_) {
            map_ = std::make_shared<MemoryMap>(descriptor_.Get(), GetOperationContext());
        }
        map = map_;
    }
    return map->CreateView(lower, upper);
}

std::shared_ptr<SharedFile> SharedFileImpl::Clone(std::uint64_t lower, std::uint64_t upper) {
    if (lower > upper) {
        throw OutOfBoundsException();
    }
    // Opened again the way the file was: below the folder it was opened in,
    // never through a link that may have taken the name since. A clone of a file opened for
    // reading only is read-only too.
    const int flags = ::fcntl(descriptor_.Get(), F_GETFL);
    const bool readOnly = flags >= 0 && (flags & O_ACCMODE) == O_RDONLY;
    UniqueDescriptor descriptor =
        OpenDescriptor(folder_->Get(), components_, readOnly ? OpenMode::OpenExistingReadOnly : OpenMode::OpenExisting);
    return std::make_shared<SharedFileImpl>(std::move(descriptor), folder_, base_, components_, GetOperationContext(),
                                            GetSizeMonitor(), lower, upper);
}

void SharedFileImpl::Flush() {
    if (::fsync(descriptor_.Get()) != 0) {
        ThrowLastError();
    }
}

}  // namespace vrexa::file::posix
