#include "updater/posix/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vrexa::updater::posix {

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Result InstanceLock::Acquire(const std::string& folder) {
    Release();
    const std::string path = folder + "/" + kFileName;
    // Never follow a link planted in the folder: the lock file is ours alone.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Unavailable;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        ((status.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)) {
        ::close(fd);
        return Result::Unavailable;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Result::HeldElsewhere : Result::Unavailable;
    }
    fd_ = fd;
    return Result::Acquired;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace vrexa::updater::posix
