#include "file/posix/PrivateFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "file/posix/UniqueDescriptor.h"

namespace vrexa::file::posix {

namespace {

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

std::string Reason(int error) { return std::strerror(error); }

[[noreturn]] void Refuse(const std::string& path, const std::string& what) {
    throw PrivateFolderError("the data folder " + path + " " + what);
}

// One folder below `parent`, created when missing, opened without following a
// link, and checked to be this user's alone.
UniqueDescriptor OpenPrivateChild(int parent, const std::string& name, const std::string& path) {
    int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(parent, name.c_str(), kPrivateFolder) != 0 && errno != EEXIST) {
            Refuse(path, "cannot be created: " + Reason(errno));
        }
        fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        const int error = errno;
        struct stat status {};
        if (::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
            Refuse(path, "is a symbolic link; it must be a folder of its own");
        }
        if (error == ENOTDIR) Refuse(path, "is not a folder");
        Refuse(path, "cannot be opened: " + Reason(error));
    }
    UniqueDescriptor owned(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0) Refuse(path, "cannot be examined: " + Reason(errno));
    if (status.st_uid != ::geteuid()) Refuse(path, "belongs to another user");
    if ((status.st_mode & 077) != 0 && ::fchmod(fd, kPrivateFolder) != 0) {
        Refuse(path, "cannot be made private: " + Reason(errno));
    }
    return owned;
}

}  // namespace

std::string UserHome() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    for (int attempt = 0; attempt < 8; ++attempt) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        const int result = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (result == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result != 0 || found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') return {};
        return found->pw_dir;
    }
    return {};
}

std::string EnsurePrivateFolder(const std::string& base, const std::string& relative) {
    if (base.empty() || base.front() != '/') {
        throw PrivateFolderError(
            "there is no folder for this user's data: $HOME is not set and the user has no "
            "home in the password database");
    }
    boost::system::error_code error;
    boost::filesystem::create_directories(base, error);
    UniqueDescriptor current(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (current.Get() < 0) throw PrivateFolderError("the folder " + base + " cannot be opened: " + Reason(errno));

    std::string path = base;
    for (const auto& part : boost::filesystem::path(relative)) {
        const std::string name = part.string();
        if (name.empty() || name == "." || name == "/") continue;
        if (name == "..") throw PrivateFolderError("the data folder " + relative + " leaves " + base);
        path += "/" + name;
        current = OpenPrivateChild(current.Get(), name, path);
    }
    return path;
}

bool MakeFilePrivate(const std::string& path) {
    UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0) return false;
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    return (status.st_mode & 07777) == kPrivateFile || ::fchmod(file.Get(), kPrivateFile) == 0;
}

}  // namespace vrexa::file::posix
