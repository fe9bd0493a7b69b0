#include "file/posix/FilesystemImpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "file/Exception.h"
#include "file/posix/Errors.h"
#include "file/posix/OpenBeneath.h"
#include "file/posix/PrivateFolder.h"
#include "file/posix/SharedFileImpl.h"
#include "file/posix/VolumeImpl.h"

namespace vrexa::file::posix {

namespace fs = boost::filesystem;

namespace {

constexpr const char* kExecutableExtensions[] = {".exe", ".bat", ".com", ".cmd",     ".msi",
                                                 ".vbs", ".sh",  ".run", ".AppImage"};

// An environment variable's value, "" when unset.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The desktop entry of a user-dirs.dirs text: XDG_DESKTOP_DIR="$HOME/Desktop"
// or an absolute path; "" when absent or malformed.
std::string DesktopFromUserDirs(const std::string& text, const std::string& home) {
    std::istringstream lines(text);
    std::string line;
    const std::string key = "XDG_DESKTOP_DIR=";
    std::string found;
    while (std::getline(lines, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) {
            continue;
        }
        std::string value = line.substr(start + key.size());
        if (value.size() < 2 || value.front() != '"' || value.find('"', 1) == std::string::npos) {
            continue;
        }
        value = value.substr(1, value.find('"', 1) - 1);
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty()) {
                continue;
            }
            value = home + value.substr(5);
        }
        if (!value.empty() && value.front() == '/') {
            found = value;  // the last assignment wins, as in a shell
        }
    }
    return found;
}

}  // namespace

FilesystemImpl::FilesystemImpl(std::string sysfsRoot, std::string mountTable)
    : sysfsRoot_(std::move(sysfsRoot)), mountTable_(std::move(mountTable)) {}

FilesystemImpl::~FilesystemImpl() = default;

std::shared_ptr<SharedFile> FilesystemImpl::OpenSharedFile(const std::string& base, const std::string& relative,
                                                           OpenMode mode, bool synchronized, std::uint64_t lower,
                                                           std::uint64_t upper) {
    if (lower > upper) {
        throw OutOfBoundsException();
    }
    const std::string folderPath = ToUtf8(ToPath(base));
    auto folder = std::make_shared<const UniqueDescriptor>(OpenFolder(folderPath));
    // Output paths come from downloaded manifests: a name that climbs out of
    // the folder, or a link on the way, is refused rather than written.
    std::vector<std::string> components = SplitBeneath(relative);
    UniqueDescriptor descriptor = SharedFileImpl::OpenDescriptor(folder->Get(), components, mode);
    return std::make_shared<SharedFileImpl>(std::move(descriptor), std::move(folder), folderPath, std::move(components),
                                            synchronized ? GetOperationContext() : nullptr, nullptr, lower, upper);
}

bool FilesystemImpl::RemoveAndPrune(const std::string& base, const std::string& relative, bool synchronized) {
    // Names from a manifest again: nothing outside base is removed on their
    // word, and a link planted at one is not ours to remove or to pass.
    const std::vector<std::string> components = SplitBeneath(relative);
    UniqueDescriptor root;
    try {
        root = OpenFolder(ToUtf8(ToPath(base)));
    } catch (const NotFoundException&) {
        return false;
    }
    // folders[i] holds components[i]; folders[0] is base.
    std::vector<UniqueDescriptor> folders;
    folders.push_back(std::move(root));
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        try {
            folders.push_back(OpenBeneath(folders.back().Get(), {components[i]}, O_PATH | O_DIRECTORY, 0, false));
        } catch (const NotFoundException&) {
            return false;
        }
    }
    const auto lock = LockOperations(synchronized ? GetOperationContext() : nullptr);
    const int holder = folders.back().Get();
    const char* name = components.back().c_str();
    struct stat status {};
    if (::fstatat(holder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        ThrowLastError();
    }
    if (S_ISLNK(status.st_mode)) {
        throw BadPathException();
    }
    if (::unlinkat(holder, name, S_ISDIR(status.st_mode) ? AT_REMOVEDIR : 0) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        ThrowLastError();
    }
    // Tidying only: the first folder that still holds something, or cannot be
    // removed, ends it. base itself is never removed.
    for (std::size_t i = components.size() - 1; i > 0; --i) {
        if (::unlinkat(folders[i - 1].Get(), components[i - 1].c_str(), AT_REMOVEDIR) != 0) {
            break;
        }
    }
    return true;
}

std::shared_ptr<Volume> FilesystemImpl::GetVolume(const std::string& path) {
    std::string canonical;
    try {
        canonical = Canonical(path);
    } catch (...) {
        throw NotFoundException();
    }
    std::string text;
    MountInfo mount;
    if (!ReadMountTable(mountTable_, text) || !FindMount(text, canonical, mount)) {
        throw NotFoundException();
    }
    return std::make_shared<VolumeImpl>(mount, canonical, mountTable_, sysfsRoot_);
}

std::string FilesystemImpl::GetDesktopFolder() {
    try {
        const std::string home = Environment("HOME");
        std::string config = Environment("XDG_CONFIG_HOME");
        if (config.empty() || config.front() != '/') {
            config = home.empty() ? std::string() : home + "/.config";
        }
        if (!config.empty()) {
            std::ifstream file(config + "/user-dirs.dirs");
            if (file) {
                std::stringstream text;
                text << file.rdbuf();
                const std::string desktop = DesktopFromUserDirs(text.str(), home);
                if (!desktop.empty()) {
                    return desktop;
                }
            }
        }
        return home.empty() ? std::string() : home + "/Desktop";
    } catch (...) {
        return {};
    }
}

std::string FilesystemImpl::GetTempFolder() {
    try {
        // Per user and kept across reboots: downloads resume from here.
        const std::string cache = Environment("XDG_CACHE_HOME");
        if (!cache.empty() && cache.front() == '/') {
            return cache;
        }
        // Never the shared system temp folder: another local user could
        // create our folders there first. Without $HOME the password
        // database names the home; without either there is no folder.
        const std::string home = UserHome();
        return home.empty() ? std::string() : home + "/.cache";
    } catch (...) {
        return {};
    }
}

bool FilesystemImpl::IsExecutable(const std::string& /*base*/, const std::string& relative) {
    // The package's own name decides, never what a link at that name points
    // to: the disk is not asked at all.
    const std::string name = SplitBeneath(relative).back();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    const std::string extension = name.substr(dot);
    for (const char* executable : kExecutableExtensions) {
        if (extension == executable) {
            return true;
        }
    }
    return false;
}

bool FilesystemImpl::IsHidden(const std::string& path) {
    const std::string name = fs::path(Canonical(path)).filename().string();
    return !name.empty() && name.front() == '.';
}

void FilesystemImpl::ThrowIfError(const boost::system::error_code& error) {
    if (!error) {
        return;
    }
    if (error.category() == boost::system::system_category() || error.category() == boost::system::generic_category()) {
        ThrowError(error.value());
    }
    Filesystem::ThrowIfError(error);
}

}  // namespace vrexa::file::posix
