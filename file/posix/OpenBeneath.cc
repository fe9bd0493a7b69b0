#include "file/posix/OpenBeneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "file/Exception.h"
#include "file/posix/Errors.h"

namespace vrexa::file::posix {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY;

// The kernel's answer to a whole-path open: a descriptor, or -1 with errno.
// ENOSYS where the kernel predates the call (or a sandbox hides it).
int KernelOpen(int folder, const std::string& path, int flags, mode_t mode) {
#ifdef SYS_openat2
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags);
    // The call refuses a mode without a creating flag.
    how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long result;
    do {
        result = ::syscall(SYS_openat2, folder, path.c_str(), &how, sizeof how);
    } while (result < 0 && errno == EINTR);
    return static_cast<int>(result);
#else
    (void)folder, (void)path, (void)flags, (void)mode;
    errno = ENOSYS;
    return -1;
#endif
}

// Errors after which the walk below gives the real answer: the call is
// missing or filtered, a rename raced it, or a folder has to be made.
bool WalkInstead(int error, bool createFolders) {
    return error == ENOSYS || error == EPERM || error == E2BIG || error == EAGAIN || (error == ENOENT && createFolders);
}

[[noreturn]] void ThrowOpenError(int error) {
    // The kernel says EXDEV for a path that would leave the folder.
    ThrowError(error == EXDEV ? ELOOP : error);
}

int OpenAt(int folder, const std::string& name, int flags, mode_t mode) {
    int descriptor;
    do {
        descriptor = ::openat(folder, name.c_str(), flags, mode);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// One folder below folder, never through a link; made first when missing and
// createFolders is set.
UniqueDescriptor OpenFolderBelow(int folder, const std::string& name, bool createFolders) {
    const int flags = kFolderFlags | O_NOFOLLOW | O_CLOEXEC;
    int descriptor = OpenAt(folder, name, flags, 0);
    if (descriptor < 0 && errno == ENOENT && createFolders) {
        if (::mkdirat(folder, name.c_str(), 0755) != 0 && errno != EEXIST) {
            ThrowLastError();
        }
        descriptor = OpenAt(folder, name, flags, 0);
    }
    if (descriptor < 0) {
        ThrowLastError();
    }
    return UniqueDescriptor(descriptor);
}

UniqueDescriptor WalkBeneath(int folder, const std::vector<std::string>& components, int flags, mode_t mode,
                             bool createFolders) {
    UniqueDescriptor current;
    int at = folder;
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        current = OpenFolderBelow(at, components[i], createFolders);
        at = current.Get();
    }
    const int descriptor = OpenAt(at, components.back(), flags, mode);
    if (descriptor < 0) {
        ThrowOpenError(errno);
    }
    return UniqueDescriptor(descriptor);
}

}  // namespace

std::vector<std::string> SplitBeneath(const std::string& relative) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        const std::string part = relative.substr(start, end - start);
        if (part.find('\0') != std::string::npos) {
            // The system would read the name only up to it.
            throw BadPathException();
        }
        if (part == "..") {
            if (components.empty()) {
                throw BadPathException();
            }
            components.pop_back();
        } else if (!part.empty() && part != ".") {
            components.push_back(part);
        }
        start = end + 1;
    }
    if (components.empty()) {
        throw BadPathException();
    }
    return components;
}

UniqueDescriptor OpenFolder(const std::string& path) {
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), kFolderFlags | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        ThrowLastError();
    }
    return UniqueDescriptor(descriptor);
}

UniqueDescriptor OpenBeneath(int folder, const std::vector<std::string>& components, int flags, mode_t mode,
                             bool createFolders) {
    if (components.empty()) {
        throw BadPathException();
    }
    flags |= O_NOFOLLOW | O_CLOEXEC;
    std::string path;
    for (const std::string& component : components) {
        path += (path.empty() ? "" : "/") + component;
    }
    const int descriptor = KernelOpen(folder, path, flags, mode);
    if (descriptor >= 0) {
        return UniqueDescriptor(descriptor);
    }
    const int error = errno;
    if (!WalkInstead(error, createFolders)) {
        ThrowOpenError(error);
    }
    return WalkBeneath(folder, components, flags, mode, createFolders);
}

bool KernelResolvesBeneath() {
    const int descriptor = KernelOpen(AT_FDCWD, ".", kFolderFlags | O_CLOEXEC, 0);
    if (descriptor < 0) {
        return false;
    }
    ::close(descriptor);
    return true;
}

}  // namespace vrexa::file::posix
