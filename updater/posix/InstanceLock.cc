#include "updater/posix/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace vrexa::updater::posix {

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::Acquire(const std::string& folder) {
    Release();
    const std::string path = folder + "/" + kFileName;
    // Never follow a link planted in the folder: the lock file is ours alone.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace vrexa::updater::posix
