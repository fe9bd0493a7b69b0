#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vrexa {

// Held while a transfer may write into its destination; releasing it (the
// object going) lets the next transfer in.
class DestinationLock {
public:
    virtual ~DestinationLock() = default;
};

// Another transfer holds the destination.
class DestinationInUse : public std::runtime_error {
public:
    DestinationInUse(std::string holderId, std::string destPath)
        : std::runtime_error("the destination " + destPath + " is in use by " +
                             (holderId.empty() ? std::string("another transfer") : "transfer " + holderId)),
          holderId_(std::move(holderId)),
          destPath_(std::move(destPath)) {}

    // "" when the holder could not be named (it was just taking the lock).
    const std::string& HolderId() const { return holderId_; }
    const std::string& DestPath() const { return destPath_; }

private:
    std::string holderId_;
    std::string destPath_;
};

// A transfer holding a destination now.
struct DestinationHolder {
    std::string transferId;
    std::string destPath;
};

// One writer per destination folder, across every process of the user: two
// transfers of different versions into one folder would each overwrite the
// other's chunks and leave files that match neither. A destination is known
// by its canonical path, so two spellings of one folder are one destination.
class DestinationLocks {
public:
    virtual ~DestinationLocks() = default;

    // Throws DestinationInUse when another transfer holds destPath, and
    // std::runtime_error when the lock cannot be taken at all (no data folder).
    virtual std::unique_ptr<DestinationLock> Acquire(const std::string& destPath, const std::string& transferId) = 0;

    // The destinations held at this moment, by whom.
    virtual std::vector<DestinationHolder> Holders() = 0;

    // Forgets what holders that died left behind; a held lock stays. Returns
    // how many were forgotten.
    virtual std::size_t RemoveStale() = 0;
};

}  // namespace vrexa
