#pragma once

#include <string>

#include "file/Volume.h"

namespace vrexa::file::posix {

// One entry of the mount table: what a volume is on this platform.
struct MountInfo {
    std::string mountPoint;      // the volume's root
    std::string fileSystemType;  // as the kernel names it ("ext4", "vfat", "tmpfs")
    unsigned major = 0;          // the device number of the mount's source
    unsigned minor = 0;
    std::string source;  // the mounted device or resource ("/dev/sdb1", "tmpfs")
};

// The text of the mount table file at path; "" with false when unreadable.
bool ReadMountTable(const std::string& path, std::string& text);

// The mount holding path (a canonical absolute path): the entry of
// mountInfoText (the text of /proc/self/mountinfo) with the longest mount
// point that is path or one of its parents, the last such entry winning when
// mounts are stacked. False when none holds it.
bool FindMount(const std::string& mountInfoText, const std::string& path, MountInfo& mount);

// The name reported for a kernel file system type: ntfs and ntfs3 give
// "NTFS", vfat "FAT32", exfat "exFAT", others are passed through.
std::string FileSystemNameOf(const std::string& kernelType);

class VolumeImpl : public Volume {
public:
    // path is the canonical path the volume was asked for; the mount table
    // (a file in the format of /proc/self/mountinfo) is read afresh on every
    // query; sysfsRoot is where "dev/block/MAJ:MIN" is looked up.
    VolumeImpl(const MountInfo& mount, std::string path, std::string mountTable, std::string sysfsRoot);

    std::string GetFileSystemName() override;
    // The block device behind the mount (sysfs "dev/block/MAJ:MIN") sits on a
    // usb bus; a mount with no block device (tmpfs, overlay, network) is not.
    bool IsUsb() override;
    // False for FAT and exFAT, true otherwise.
    bool SupportsSparseFiles() override;

    const std::string& GetPath() const { return path_; }

private:
    MountInfo Query() const;

    std::string path_;
    std::string mountTable_;
    std::string sysfsRoot_;
};

}  // namespace vrexa::file::posix
