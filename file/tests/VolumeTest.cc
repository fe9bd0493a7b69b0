#include "file/posix/VolumeImpl.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include "file/Exception.h"
#include "file/posix/FilesystemImpl.h"
#include "tests/support/TestFolder.h"

namespace vrexa::file::posix {
namespace {

namespace fs = boost::filesystem;
using testsupport::TestFolder;

const char* const kMountTable =
    "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "22 21 0:21 / /proc rw,nosuid - proc proc rw\n"
    "30 21 8:17 / /home rw,relatime shared:5 - xfs /dev/sdb1 rw\n"
    "31 21 8:33 / /media/usb\\040stick rw,relatime - vfat /dev/sdc1 rw,fmask=0022\n"
    "32 21 8:49 / /mnt/win rw,relatime - ntfs3 /dev/sdd1 rw\n"
    "33 21 0:40 / /mnt/win rw,relatime - tmpfs tmpfs rw\n"
    "34 21 8:65 / /mnt/x rw,relatime - exfat /dev/sde1 rw\n";

struct MountCase {
    std::string path;
    std::string mountPoint;
    std::string type;
    unsigned major;
    unsigned minor;
};

TEST(MountTable, PathBelongsToTheDeepestMountHoldingItAndTheLastOfStackedOnes) {
    const std::vector<MountCase> cases = {
        {"/", "/", "ext4", 8, 1},
        {"/usr/bin/env", "/", "ext4", 8, 1},
        {"/home", "/home", "xfs", 8, 17},
        {"/home/user/file", "/home", "xfs", 8, 17},
        {"/homeother/file", "/", "ext4", 8, 1},
        {"/media/usb stick/data", "/media/usb stick", "vfat", 8, 33},
        {"/mnt/win/a", "/mnt/win", "tmpfs", 0, 40},
        {"/mnt/xy", "/", "ext4", 8, 1},
    };
    for (const auto& c : cases) {
        MountInfo mount;
        ASSERT_TRUE(FindMount(kMountTable, c.path, mount)) << c.path;
        EXPECT_EQ(mount.mountPoint, c.mountPoint) << c.path;
        EXPECT_EQ(mount.fileSystemType, c.type) << c.path;
        EXPECT_EQ(mount.major, c.major) << c.path;
        EXPECT_EQ(mount.minor, c.minor) << c.path;
    }
    MountInfo mount;
    EXPECT_FALSE(FindMount("22 1 0:21 / /proc rw - proc proc rw\ngarbage line\n", "/home", mount));
    EXPECT_FALSE(FindMount("", "/", mount));
}

TEST(MountTable, KernelTypesAreNamedTheWayTransfersKnowThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ntfs", "NTFS"}, {"ntfs3", "NTFS"},  {"vfat", "FAT32"},  {"exfat", "exFAT"},
        {"ext4", "ext4"}, {"tmpfs", "tmpfs"}, {"msdos", "msdos"},
    };
    for (const auto& [kernel, name] : cases) {
        EXPECT_EQ(FileSystemNameOf(kernel), name) << kernel;
    }
}

TEST(Volume, FileSystemTypeIsAnExactCaseSensitiveMatch) {
    const MountInfo mount{"/", "ext4", 8, 1, "/dev/sda1"};
    VolumeImpl volume(mount, "/", "/proc/self/mountinfo", "/sys");
    const std::vector<std::pair<std::string, FileSystemType>> cases = {
        {"NTFS", FileSystemType::Ntfs},    {"FAT32", FileSystemType::Fat32},   {"exFAT", FileSystemType::ExFat},
        {"ntfs", FileSystemType::Unknown}, {"EXFAT", FileSystemType::Unknown}, {"FAT", FileSystemType::Unknown},
        {"ext4", FileSystemType::Unknown}, {"", FileSystemType::Unknown},
    };
    for (const auto& [name, type] : cases) {
        EXPECT_EQ(volume.GetFileSystemType(name), type) << name;
    }
}

TEST(Volume, GetVolumeOfAMissingPathIsNotFound) {
    FilesystemImpl filesystem;
    TestFolder folder;
    EXPECT_THROW(filesystem.GetVolume(folder / "missing"), NotFoundException);
}

TEST(Volume, RealVolumeIsTheMountHoldingThePath) {
    FilesystemImpl filesystem;
    TestFolder folder;
    const auto volume = filesystem.GetVolume(folder.Path());
    const std::string canonical = filesystem.Canonical(folder.Path());
    const std::string root = volume->GetRootPath();
    ASSERT_FALSE(root.empty());
    EXPECT_TRUE(root == "/" || canonical.rfind(root + "/", 0) == 0) << root << " vs " << canonical;
    // The mount point and the folder live on the same device.
    struct stat rootStatus {};
    struct stat folderStatus {};
    ASSERT_EQ(::stat(root.c_str(), &rootStatus), 0);
    ASSERT_EQ(::stat(canonical.c_str(), &folderStatus), 0);
    EXPECT_EQ(rootStatus.st_dev, folderStatus.st_dev);
    EXPECT_FALSE(volume->GetFileSystemName().empty());
}

// A mount table and a sysfs tree for one disk at 8:1 mounted on "/", its
// block device found under devicePath.
class FakeDisk {
public:
    FakeDisk(const std::string& type, const std::string& devicePath, const std::string& device = "8:1") {
        folder_.Put("mountinfo", "21 1 " + device + " / / rw - " + type + " /dev/fake1 rw\n");
        if (!devicePath.empty()) {
            fs::create_directories(folder_ / ("sys/" + devicePath));
            fs::create_directories(folder_ / "sys/dev/block");
            fs::create_symlink("../../" + devicePath, folder_ / ("sys/dev/block/" + device));
        } else {
            fs::create_directories(folder_ / "sys/dev/block");
        }
    }
    std::shared_ptr<Volume> VolumeOf(const std::string& path) {
        FilesystemImpl filesystem(folder_ / "sys", folder_ / "mountinfo");
        return filesystem.GetVolume(path);
    }
    const TestFolder& Folder() const { return folder_; }

private:
    TestFolder folder_;
};

struct UsbCase {
    const char* name;
    std::string type;
    std::string devicePath;
    std::string device;
    bool usb;
    bool sparse;
    std::string fileSystemName;
};

TEST(Volume, UsbAndSparseSupportComeFromTheDeviceAndTheFileSystem) {
    const std::vector<UsbCase> cases = {
        {"usb stick", "vfat",
         "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1", "8:1", true,
         false, "FAT32"},
        {"usb ntfs disk", "ntfs3", "devices/pci0000:00/0000:00:14.0/usb3/3-2/3-2:1.0/host7/block/sdc/sdc1", "8:1", true,
         true, "NTFS"},
        {"sata disk", "ext4", "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1", "8:1",
         false, true, "ext4"},
        {"usb-named but not a bus", "exfat", "devices/virtual/block/usbdisk", "8:1", false, false, "exFAT"},
        {"no block device", "tmpfs", "", "0:42", false, true, "tmpfs"},
    };
    for (const auto& c : cases) {
        FakeDisk disk(c.type, c.devicePath, c.device);
        const auto volume = disk.VolumeOf(disk.Folder().Path());
        EXPECT_EQ(volume->GetRootPath(), "/") << c.name;
        EXPECT_EQ(volume->IsUsb(), c.usb) << c.name;
        EXPECT_EQ(volume->SupportsSparseFiles(), c.sparse) << c.name;
        EXPECT_EQ(volume->GetFileSystemName(), c.fileSystemName) << c.name;
    }
}

TEST(Volume, DeviceThatCannotBeFoundOrQueriedIsInaccessible) {
    FakeDisk disk("ext4", "");
    const auto volume = disk.VolumeOf(disk.Folder().Path());
    EXPECT_THROW(volume->IsUsb(), InaccessibleException);
    // The table is read afresh on every query: once it is gone, so is the answer.
    fs::remove(disk.Folder() / "mountinfo");
    EXPECT_THROW(volume->GetFileSystemName(), InaccessibleException);
    EXPECT_THROW(volume->SupportsSparseFiles(), InaccessibleException);
}

}  // namespace
}  // namespace vrexa::file::posix
