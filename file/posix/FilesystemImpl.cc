#include "file/posix/FilesystemImpl.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "file/Exception.h"
#include "file/posix/Errors.h"
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
    if (!Exists(base)) {
        throw NotFoundException();
    }
    // Output paths come from downloaded manifests: a name that climbs out of
    // the destination folder is refused rather than written.
    if (EscapesBase(relative)) {
        throw BadPathException();
    }
    const fs::path path = ResolvePath(base, relative);
    if (mode != OpenMode::OpenExisting && mode != OpenMode::OpenExistingReadOnly && path.has_parent_path()) {
        CreateDirectories(ToUtf8(path.parent_path()));
    }
    const std::string resolved = ToUtf8(path);
    UniqueDescriptor descriptor = SharedFileImpl::OpenDescriptor(resolved, mode);
    return std::make_shared<SharedFileImpl>(std::move(descriptor), resolved,
                                            synchronized ? GetOperationContext() : nullptr, nullptr, lower, upper);
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

bool FilesystemImpl::IsExecutable(const std::string& base, const std::string& relative) {
    const std::string canonical = Canonical(ToUtf8(ResolvePath(base, relative)));
    const std::string name = fs::path(canonical).filename().string();
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
