#pragma once

#include "service/OfflineTransferManager.h"

namespace vrexa {

template <typename M>
class ManifestStore;
class TransferManifest;
using TransferManifestStore = ManifestStore<TransferManifest>;

// The manager that also finds the transfers of earlier processes in the store.
class TempFileTransferManager : public OfflineTransferManager {
public:
    // Not owned; must outlive the manager.
    explicit TempFileTransferManager(TransferManifestStore* store) : store_(store) {}

    // A transfer the manager does not hold is rebuilt from the store
    // (suspended, restored set, made by behavior's factory) when the stored
    // entry names the id asked for. Only transfer ids are looked up, and
    // nothing is found once the manager is shut down.
    std::shared_ptr<Transfer> Find(const std::string& transferId, const TransferBehavior& behavior) override;

private:
    TransferManifestStore* const store_;
};

}  // namespace vrexa
