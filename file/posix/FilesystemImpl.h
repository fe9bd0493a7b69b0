#pragma once

#include <memory>
#include <string>

#include "file/Filesystem.h"

namespace vrexa::file::posix {

// The platform half of the file-system service: shared files on file
// descriptors, volumes from the mount table, the per-user folders, and the
// error mapping keyed on errno.
class FilesystemImpl : public Filesystem {
public:
    // sysfsRoot is where the block devices' bus paths are looked up and
    // mountTable the mount table of this process; tests point them at fakes
    // to pose as a USB disk.
    explicit FilesystemImpl(std::string sysfsRoot = "/sys", std::string mountTable = "/proc/self/mountinfo");
    ~FilesystemImpl() override;

    std::shared_ptr<SharedFile> OpenSharedFile(const std::string& base, const std::string& relative, OpenMode mode,
                                               bool synchronized, std::uint64_t lower, std::uint64_t upper) override;
    // Removes the file (or empty folder) without following a link on the way,
    // then prunes emptied folders up to base; a link at the name itself is
    // BadPathException and stays.
    bool RemoveAndPrune(const std::string& base, const std::string& relative, bool synchronized) override;
    std::shared_ptr<Volume> GetVolume(const std::string& path) override;
    std::string GetDesktopFolder() override;
    std::string GetTempFolder() override;
    // Whether the last component of relative has an executable extension:
    // ".exe", ".bat", ".com", ".cmd", ".msi", ".vbs", ".sh", ".run",
    // ".AppImage", compared byte for byte. The name alone decides.
    bool IsExecutable(const std::string& base, const std::string& relative) override;
    // Hidden: the name begins with ".".
    bool IsHidden(const std::string& path) override;
    void ThrowIfError(const boost::system::error_code& error) override;

private:
    std::string sysfsRoot_;
    std::string mountTable_;
};

}  // namespace vrexa::file::posix
