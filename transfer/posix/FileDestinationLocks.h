#pragma once

#include <functional>
#include <string>

#include "transfer/DestinationLocks.h"

namespace vrexa {
namespace file {
class Filesystem;
}  // namespace file

namespace posix {

// Destination locks as open-file-description locks on one small file per
// destination in a private folder of the data folder (never a file inside the
// destination: that would be a file the package does not have). The system
// drops the lock however its holder ends, so a killed process never blocks the
// next transfer. The file names its holder's transfer id and the destination,
// for the message of a refused transfer and for listing the holders.
class FileDestinationLocks : public DestinationLocks {
public:
    // folder: relative to the file system's temporary-files folder.
    FileDestinationLocks(file::Filesystem& filesystem, std::string folder);

    std::unique_ptr<DestinationLock> Acquire(const std::string& destPath, const std::string& transferId) override;
    std::vector<DestinationHolder> Holders() override;
    std::size_t RemoveStale() override;

    // The lock file's name for a destination: the same for every spelling of
    // one existing folder.
    static std::string LockName(const std::string& destPath);
    static std::string CanonicalDestination(const std::string& destPath);

private:
    std::string Folder();
    void ForEachLockFile(const std::function<void(int folder, const std::string& name)>& visit);

    file::Filesystem& filesystem_;
    const std::string folder_;
};

}  // namespace posix
}  // namespace vrexa
