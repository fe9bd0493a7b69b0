#include "transfer/posix/FileDestinationLocks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>

#include <boost/filesystem/path.hpp>

#include "file/Filesystem.h"
#include "file/posix/PrivateFolder.h"

namespace vrexa::posix {

namespace {

constexpr const char* kSuffix = ".lock";
// A lock file read while its holder is still writing its name: a few short
// looks before the holder is called "another transfer".
constexpr int kHolderReadAttempts = 20;
constexpr auto kHolderReadPause = std::chrono::milliseconds(5);
// Taking a file that its releaser removed at the same moment starts over; a
// bound keeps a pathological race from spinning.
constexpr int kAcquireAttempts = 16;

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("the destination cannot be locked: " + what + ": " + std::strerror(errno));
}

struct flock WholeFile(short type) {
    struct flock region {};
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = 0;
    region.l_len = 0;
    return region;
}

// "ID\nDEST\n" of a lock file; empty fields when it holds less.
DestinationHolder ReadHolder(int fd) {
    char text[8192];
    const ssize_t read = ::pread(fd, text, sizeof text - 1, 0);
    DestinationHolder holder;
    if (read <= 0) return holder;
    const std::string content(text, static_cast<std::size_t>(read));
    const auto first = content.find('\n');
    if (first == std::string::npos) return holder;
    const auto second = content.find('\n', first + 1);
    if (second == std::string::npos) return holder;
    holder.transferId = content.substr(0, first);
    holder.destPath = content.substr(first + 1, second - first - 1);
    return holder;
}

class FileDestinationLock : public DestinationLock {
public:
    FileDestinationLock(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    ~FileDestinationLock() override {
        // Removed while still held: whoever opened the old file before takes
        // its lock only after this, finds the name gone and starts over.
        ::unlink(path_.c_str());
        ::close(fd_);
    }

private:
    std::string path_;
    int fd_;
};

}  // namespace

FileDestinationLocks::FileDestinationLocks(file::Filesystem& filesystem, std::string folder)
    : filesystem_(filesystem), folder_(std::move(folder)) {}

std::string FileDestinationLocks::CanonicalDestination(const std::string& destPath) {
    // A folder not made yet has no canonical name; its normal form stands in.
    if (char* resolved = ::realpath(destPath.c_str(), nullptr)) {
        std::string canonical(resolved);
        std::free(resolved);
        return canonical;
    }
    return boost::filesystem::path(destPath).lexically_normal().string();
}

std::string FileDestinationLocks::LockName(const std::string& destPath) {
    // FNV-1a: stable across builds and processes, and short whatever the
    // path's length. A collision would only make two folders share a lock.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : CanonicalDestination(destPath)) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(name) + kSuffix;
}

std::string FileDestinationLocks::Folder() {
    try {
        return file::posix::EnsurePrivateFolder(filesystem_.GetTempFolder(), folder_);
    } catch (const file::posix::PrivateFolderError& error) {
        throw std::runtime_error(std::string("the destination cannot be locked: ") + error.what());
    }
}

std::unique_ptr<DestinationLock> FileDestinationLocks::Acquire(const std::string& destPath,
                                                               const std::string& transferId) {
    const std::string canonical = CanonicalDestination(destPath);
    const std::string path = Folder() + "/" + LockName(destPath);
    for (int attempt = 0; attempt < kAcquireAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) Fail("cannot open " + path);
        struct flock region = WholeFile(F_WRLCK);
        if (::fcntl(fd, F_OFD_SETLK, &region) != 0) {
            if (errno != EAGAIN && errno != EACCES) {
                ::close(fd);
                Fail("cannot lock " + path);
            }
            DestinationHolder holder = ReadHolder(fd);
            for (int look = 1; look < kHolderReadAttempts && holder.transferId.empty(); ++look) {
                std::this_thread::sleep_for(kHolderReadPause);
                holder = ReadHolder(fd);
            }
            ::close(fd);
            throw DestinationInUse(holder.transferId, canonical);
        }
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) != 0 || ::lstat(path.c_str(), &named) != 0 || opened.st_ino != named.st_ino ||
            opened.st_dev != named.st_dev) {
            // Its holder removed it between our open and our lock.
            ::close(fd);
            continue;
        }
        const std::string text = transferId + "\n" + canonical + "\n";
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
            ::unlink(path.c_str());
            ::close(fd);
            Fail("cannot write " + path);
        }
        return std::make_unique<FileDestinationLock>(path, fd);
    }
    errno = EAGAIN;
    Fail("the lock file " + path + " keeps changing");
}

void FileDestinationLocks::ForEachLockFile(const std::function<void(int folder, const std::string& name)>& visit) {
    DIR* directory = ::opendir(Folder().c_str());
    if (directory == nullptr) return;
    const std::string suffix = kSuffix;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            visit(::dirfd(directory), name);
    }
    ::closedir(directory);
}

std::vector<DestinationHolder> FileDestinationLocks::Holders() {
    std::vector<DestinationHolder> holders;
    ForEachLockFile([&holders](int folder, const std::string& name) {
        const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return;
        // Asks without taking: a listing must never make a transfer that
        // starts at this moment find its destination busy.
        struct flock region = WholeFile(F_WRLCK);
        if (::fcntl(fd, F_OFD_GETLK, &region) == 0 && region.l_type != F_UNLCK) {
            DestinationHolder holder = ReadHolder(fd);
            if (!holder.transferId.empty()) holders.push_back(std::move(holder));
        }
        ::close(fd);
    });
    return holders;
}

std::size_t FileDestinationLocks::RemoveStale() {
    std::size_t removed = 0;
    ForEachLockFile([&removed](int folder, const std::string& name) {
        const int fd = ::openat(folder, name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return;
        // Taken the way a transfer takes it, so that one starting now either
        // waits for nothing (it finds the name gone and makes a new file) or
        // holds the lock and this leaves the file alone.
        struct flock region = WholeFile(F_WRLCK);
        struct stat opened {};
        struct stat named {};
        if (::fcntl(fd, F_OFD_SETLK, &region) == 0 && ::fstat(fd, &opened) == 0 &&
            ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev && ::unlinkat(folder, name.c_str(), 0) == 0) {
            ++removed;
        }
        ::close(fd);
    });
    return removed;
}

}  // namespace vrexa::posix
