#pragma once

#include <string>

namespace vrexa::file {

// The file systems that matter to a transfer.
enum class FileSystemType {
    Unknown = 0,
    Ntfs = 1,
    Fat32 = 2,
    ExFat = 3,
};

// The storage volume a path lives on. A snapshot of its root only: every query
// asks the operating system afresh.
class Volume {
public:
    explicit Volume(std::string rootPath);
    virtual ~Volume();

    // The root of the volume (on this platform, the mount point), UTF-8.
    const std::string& GetRootPath() const { return rootPath_; }

    // The file system's name ("NTFS", "FAT32", "exFAT", else as the system
    // names it); InaccessibleException when the volume cannot be queried.
    virtual std::string GetFileSystemName() = 0;
    // Exact, case-sensitive: "NTFS", "FAT32", "exFAT"; anything else Unknown.
    virtual FileSystemType GetFileSystemType(const std::string& name);
    // Whether the storage device sits on a USB bus; InaccessibleException when
    // the device cannot be queried.
    virtual bool IsUsb() = 0;
    // Whether files on the volume may be sparse; InaccessibleException when the
    // volume cannot be queried.
    virtual bool SupportsSparseFiles() = 0;

private:
    std::string rootPath_;
};

}  // namespace vrexa::file
