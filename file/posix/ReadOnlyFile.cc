#include "file/ReadOnlyFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file/Exception.h"
#include "file/posix/Errors.h"
#include "file/posix/FaultGuard.h"
#include "file/posix/OpenBeneath.h"
#include "file/posix/UniqueDescriptor.h"

namespace vrexa::file {

using posix::UniqueDescriptor;

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::OpenBeneath(const std::string& folder, const std::string& relative) {
    UniqueDescriptor root = posix::OpenFolder(folder);
    UniqueDescriptor descriptor;
    try {
        // Non-blocking: a pipe swapped in after the listing must not hang the
        // open; it is refused just below.
        descriptor = posix::OpenBeneath(root.Get(), posix::SplitBeneath(relative), O_RDONLY | O_NONBLOCK, 0, false);
    } catch (const NotFoundException&) {
        return nullptr;
    } catch (const BadPathException&) {
        return nullptr;
    }
    struct stat status {};
    if (::fstat(descriptor.Get(), &status) != 0) {
        posix::ThrowLastError();
    }
    if (!S_ISREG(status.st_mode)) {
        return nullptr;
    }
    return std::unique_ptr<ReadOnlyFile>(
        new ReadOnlyFile(descriptor.Release(), static_cast<std::uint64_t>(status.st_size)));
}

ReadOnlyFile::~ReadOnlyFile() { ::close(descriptor_); }

bool ReadOnlyFile::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const {
    auto* at = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(descriptor_, at, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            posix::ThrowLastError();
        }
        if (got == 0) {
            return false;
        }
        at += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

std::unique_ptr<ReadOnlyFile::View> ReadOnlyFile::Map(std::uint64_t offset, std::size_t length) const {
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset - offset % page;
    auto view = std::unique_ptr<View>(new View());
    view->mappedLength_ = static_cast<std::size_t>(offset - start) + length;
    void* mapping = ::mmap(nullptr, view->mappedLength_, PROT_READ, MAP_SHARED, descriptor_, static_cast<off_t>(start));
    if (mapping == MAP_FAILED) {
        posix::ThrowLastError();
    }
    view->mapping_ = mapping;
    view->guardSlot_ = posix::FaultGuard::Register(mapping, view->mappedLength_);
    // One pass from front to back: read ahead, and drop pages behind.
    ::madvise(mapping, view->mappedLength_, MADV_SEQUENTIAL);
    view->data_ = static_cast<const std::uint8_t*>(mapping) + (offset - start);
    return view;
}

ReadOnlyFile::View::~View() {
    if (mapping_ != nullptr) {
        if (guardSlot_ >= 0) posix::FaultGuard::Unregister(guardSlot_);
        ::munmap(mapping_, mappedLength_);
    }
}

bool ReadOnlyFile::View::Faulted() const { return guardSlot_ >= 0 && posix::FaultGuard::HasFaulted(guardSlot_); }

namespace {

void ListFolder(int folder, const std::string& prefix, std::vector<std::string>& files, std::size_t limit, int depth) {
    const int readable = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable < 0) {
        posix::ThrowLastError();
    }
    DIR* listing = ::fdopendir(readable);
    if (listing == nullptr) {
        ::close(readable);
        posix::ThrowLastError();
    }
    std::vector<std::string> folders;
    while (files.size() < limit) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status {};
        if (::fstatat(readable, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(status.st_mode)) {
            files.push_back(prefix + name);
        } else if (S_ISDIR(status.st_mode) && depth > 0) {
            folders.push_back(name);
        }
    }
    for (const std::string& name : folders) {
        if (files.size() >= limit) break;
        const int below = ::openat(readable, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        // A folder replaced by a link after it was listed is skipped.
        if (below < 0) continue;
        UniqueDescriptor owned(below);
        try {
            ListFolder(below, prefix + name + "/", files, limit, depth - 1);
        } catch (const Exception&) {
            // An unreadable folder among old files only means less to reuse.
        }
    }
    ::closedir(listing);
}

UniqueDescriptor ParentBeneath(int root, std::vector<std::string> components, bool create) {
    components.pop_back();
    const int copy = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) posix::ThrowLastError();
    UniqueDescriptor at(copy);
    // One folder at a time, each made when missing and opened without
    // following a link, so that no link placed on the way is ever entered.
    for (const std::string& name : components) {
        if (create && ::mkdirat(at.Get(), name.c_str(), 0755) != 0 && errno != EEXIST) {
            posix::ThrowLastError();
        }
        const int below = ::openat(at.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (below < 0) {
            // A link where a folder should be.
            if (errno == ENOTDIR || errno == ELOOP) throw BadPathException();
            posix::ThrowLastError();
        }
        at = UniqueDescriptor(below);
    }
    return at;
}

}  // namespace

std::vector<std::string> ListRegularFilesBeneath(const std::string& folder, std::size_t limit, int depth) {
    UniqueDescriptor root = posix::OpenFolder(folder);
    std::vector<std::string> files;
    ListFolder(root.Get(), "", files, limit, depth);
    return files;
}

void MoveBeneath(const std::string& folder, const std::string& from, const std::string& to) {
    UniqueDescriptor root = posix::OpenFolder(folder);
    const auto fromComponents = posix::SplitBeneath(from);
    const auto toComponents = posix::SplitBeneath(to);
    UniqueDescriptor fromParent = ParentBeneath(root.Get(), fromComponents, false);
    UniqueDescriptor toParent = ParentBeneath(root.Get(), toComponents, true);
    // renameat never follows a link in the last component: a link is moved
    // as the link itself, and the callers only move what they listed as
    // regular files.
    if (::renameat(fromParent.Get(), fromComponents.back().c_str(), toParent.Get(), toComponents.back().c_str()) != 0) {
        posix::ThrowLastError();
    }
}

}  // namespace vrexa::file
