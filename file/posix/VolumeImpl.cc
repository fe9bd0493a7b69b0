#include "file/posix/VolumeImpl.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "file/Exception.h"

namespace vrexa::file::posix {

namespace fs = boost::filesystem;

namespace {

// Mount table fields escape space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// Whether mountPoint is path or one of its parents.
bool Holds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") {
        return !path.empty() && path.front() == '/';
    }
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

bool ParseMountLine(const std::string& line, MountInfo& mount) {
    std::istringstream fields(line);
    std::vector<std::string> before;
    std::string field;
    while (fields >> field && field != "-") {
        before.push_back(field);
    }
    std::string type;
    if (field != "-" || before.size() < 6 || !(fields >> type)) {
        return false;
    }
    std::string source;
    fields >> source;
    const std::string& device = before[2];
    const auto colon = device.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    try {
        mount.major = static_cast<unsigned>(std::stoul(device.substr(0, colon)));
        mount.minor = static_cast<unsigned>(std::stoul(device.substr(colon + 1)));
    } catch (...) {
        return false;
    }
    mount.mountPoint = Unescape(before[4]);
    mount.fileSystemType = Unescape(type);
    mount.source = Unescape(source);
    return true;
}

}  // namespace

bool ReadMountTable(const std::string& path, std::string& text) {
    std::ifstream table(path);
    if (!table) {
        return false;
    }
    std::stringstream content;
    content << table.rdbuf();
    text = content.str();
    return true;
}

bool FindMount(const std::string& mountInfoText, const std::string& path, MountInfo& mount) {
    std::istringstream lines(mountInfoText);
    std::string line;
    bool found = false;
    while (std::getline(lines, line)) {
        MountInfo candidate;
        if (!ParseMountLine(line, candidate) || !Holds(candidate.mountPoint, path)) {
            continue;
        }
        // Later entries are mounted over earlier ones at the same point.
        if (!found || candidate.mountPoint.size() >= mount.mountPoint.size()) {
            mount = candidate;
            found = true;
        }
    }
    return found;
}

std::string FileSystemNameOf(const std::string& kernelType) {
    if (kernelType == "ntfs" || kernelType == "ntfs3") {
        return "NTFS";
    }
    if (kernelType == "vfat") {
        return "FAT32";
    }
    if (kernelType == "exfat") {
        return "exFAT";
    }
    return kernelType;
}

VolumeImpl::VolumeImpl(const MountInfo& mount, std::string path, std::string mountTable, std::string sysfsRoot)
    : Volume(mount.mountPoint),
      path_(std::move(path)),
      mountTable_(std::move(mountTable)),
      sysfsRoot_(std::move(sysfsRoot)) {}

MountInfo VolumeImpl::Query() const {
    std::string text;
    MountInfo mount;
    if (!ReadMountTable(mountTable_, text) || !FindMount(text, path_, mount)) {
        throw InaccessibleException();
    }
    return mount;
}

std::string VolumeImpl::GetFileSystemName() { return FileSystemNameOf(Query().fileSystemType); }

bool VolumeImpl::IsUsb() {
    MountInfo mount = Query();
    if (mount.major == 0 && mount.source.rfind("/dev/", 0) == 0) {
        // Some file systems (btrfs) report an anonymous device; the source
        // device node names the real one.
        struct stat status {};
        if (::stat(mount.source.c_str(), &status) == 0 && S_ISBLK(status.st_mode)) {
            mount.major = major(status.st_rdev);
            mount.minor = minor(status.st_rdev);
        }
    }
    if (mount.major == 0) {
        return false;  // no block device: tmpfs, overlay, network
    }
    const std::string link =
        sysfsRoot_ + "/dev/block/" + std::to_string(mount.major) + ":" + std::to_string(mount.minor);
    boost::system::error_code error;
    const fs::path device = fs::canonical(link, error);
    if (error) {
        throw InaccessibleException();
    }
    for (const auto& part : device) {
        const std::string name = part.string();
        if (name.size() > 3 && name.compare(0, 3, "usb") == 0 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos) {
            return true;
        }
    }
    return false;
}

bool VolumeImpl::SupportsSparseFiles() {
    const std::string type = Query().fileSystemType;
    return !(type == "vfat" || type == "msdos" || type == "exfat");
}

}  // namespace vrexa::file::posix
