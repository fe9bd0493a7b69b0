#include "file/posix/AtomicWrite.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "file/posix/UniqueDescriptor.h"

namespace vrexa::file::posix {

namespace {

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

}  // namespace

std::error_code WriteAll(int descriptor, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t wrote = ::write(descriptor, at, size);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        at += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return {};
}

void SyncFolder(const std::string& folder) {
    const UniqueDescriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptor) {
        ::fsync(descriptor.Get());
    }
}

std::error_code WriteFileAtomically(const std::string& path, std::string_view content, FileAccess access) {
    const std::filesystem::path target(path);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");
    // A dot name: the file managers and readers that list the folder pass
    // over it while it is being written.
    std::string temporary = folder + "/." + target.filename().string() + ".XXXXXX";
    UniqueDescriptor descriptor(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!descriptor) {
        return LastError();
    }
    std::error_code error;
    if (::fchmod(descriptor.Get(), access == FileAccess::Private ? 0600 : 0644) != 0) {
        error = LastError();
    }
    if (!error) {
        error = WriteAll(descriptor.Get(), content.data(), content.size());
    }
    // On the disk before it takes the old file's place, and closed with its
    // result checked: some file systems report a failed write-back only there.
    if (!error && ::fsync(descriptor.Get()) != 0) {
        error = LastError();
    }
    if (!error && descriptor.Close() != 0) {
        error = LastError();
    }
    if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = LastError();
    }
    if (error) {
        ::unlink(temporary.c_str());
        return error;
    }
    SyncFolder(folder);
    return {};
}

}  // namespace vrexa::file::posix
