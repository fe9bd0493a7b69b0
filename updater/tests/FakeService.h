#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "service/TransferContract.h"
#include "updater/UpdaterConfiguration.h"

namespace vrexa::updater::testing {

// A service whose transfers are whatever the test says: each Transfer takes
// the next id of a list ("" is a failed creation) and Update answers the
// status the test set.
class FakeService : public TransferContract {
public:
    struct Creation {
        std::string partnerId, packageId, versionId;
        bool operator==(const Creation&) const = default;
    };

    explicit FakeService(std::vector<std::string> ids) : ids_(std::move(ids)) {}

    using TransferContract::Start;
    using TransferContract::Transfer;
    TransferStatus Transfer(const std::string& partnerId, const std::string& packageId,
                            const std::string& versionId) override {
        std::lock_guard<std::mutex> guard(mutex_);
        creations.push_back({partnerId, packageId, versionId});
        TransferStatus status;
        if (next_ < ids_.size() && !ids_[next_].empty()) {
            status.transferId = ids_[next_];
            status.state = TransferState::Initializing;
            statuses[status.transferId] = status;
        } else {
            status.error = TransferError::Unknown;
        }
        ++next_;
        return status;
    }
    bool CanTransferTo(const std::string&, const std::string&) override { return false; }
    TransferStatus Start(const std::string& transferId, const std::string& destPath) override {
        std::lock_guard<std::mutex> guard(mutex_);
        starts.emplace_back(transferId, destPath);
        statuses[transferId].state = TransferState::Transferring;
        return statuses[transferId];
    }
    TransferStatus Update(const std::string& transferId) override {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = statuses.find(transferId);
        if (found != statuses.end()) return found->second;
        TransferStatus unknown;
        unknown.transferId = transferId;
        return unknown;
    }
    TransferStatus Pause(const std::string& id) override { return Update(id); }
    TransferStatus Resume(const std::string& id) override { return Update(id); }
    TransferStatus Retry(const std::string& id) override { return Update(id); }
    TransferStatus Suspend(const std::string& id) override { return Update(id); }
    TransferStatus Restore(const std::string& id) override { return Update(id); }
    TransferStatus Cancel(const std::string& id, bool removeFiles) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            cancels.emplace_back(id, removeFiles);
        }
        return Update(id);
    }

    void Set(const std::string& id, TransferState state, TransferError error = TransferError::None,
             std::uint64_t completed = 0, std::uint64_t total = 0, const std::string& run = "") {
        std::lock_guard<std::mutex> guard(mutex_);
        TransferStatus& status = statuses[id];
        status.transferId = id;
        status.state = state;
        status.error = error;
        status.retrying = error != TransferError::None && state != TransferState::Complete &&
                          state != TransferState::Suspended && state != TransferState::Cancelled;
        status.completedBytes = completed;
        status.totalBytes = total;
        status.secondsRemaining = 120;
        status.run = run;
    }

    std::vector<Creation> creations;
    std::vector<std::pair<std::string, std::string>> starts;
    std::vector<std::pair<std::string, bool>> cancels;
    std::map<std::string, TransferStatus> statuses;

private:
    std::mutex mutex_;
    std::vector<std::string> ids_;
    std::size_t next_ = 0;
};

// The dialog tests' configuration: two partners and packages, the display
// name Zazid, no language list, downloads into dataFolder.
inline UpdaterConfiguration SampleConfiguration(const std::string& dataFolder) {
    UpdaterConfiguration configuration;
    configuration.dataFolder = dataFolder;
    configuration.dataFolderCopy = dataFolder;
    configuration.packagePartnerId = "package-partner";
    configuration.packageId = "package";
    configuration.skinPartnerId = "skin-partner";
    configuration.skinPackageId = "skin";
    configuration.displayName = "Zazid";
    configuration.folderName = "Zazid";
    configuration.launchPackage = "Maps";
    configuration.elevateLaunch = false;
    return configuration;
}

}  // namespace vrexa::updater::testing
