#pragma once

#include "service/StandardTransfer.h"
#include "service/TransferFactory.h"
#include "service/OfflineTransferManager.h"

namespace vrexa {

template <typename M>
class ManifestStore;
class TransferManifest;
using TransferManifestStore = ManifestStore<TransferManifest>;

// A transfer that keeps its ids and destination in the store from its first
// Start until it is cancelled, so a later process can rebuild and resume it.
// Suspending keeps the entry; completing does not remove it.
class StoredTransfer : public StandardTransfer {
public:
    // store is not owned and must outlive the transfer.
    StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                   TransferWorkflowFactory* workflowFactory, TransferManifestStore* store);

    using StandardTransfer::Cancel;
    using StandardTransfer::Start;
    TransferStatus Start(TransferLock& lock, const std::string& destPath) override;
    TransferStatus Cancel(TransferLock& lock, bool removeFiles) override;

private:
    TransferManifestStore* const store_;
};

// Makes stored transfers running the given workflows.
class StoredTransferFactory : public TransferFactory {
public:
    // Neither owned.
    StoredTransferFactory(TransferManifestStore* store, TransferWorkflowFactory* workflowFactory)
        : store_(store), workflowFactory_(workflowFactory) {}

    std::shared_ptr<Transfer> Create(const TransferParams& params, const TransferBehavior& behavior) override;

private:
    TransferManifestStore* const store_;
    TransferWorkflowFactory* const workflowFactory_;
};

// The manager that also finds transfers of earlier processes in the store.
class TempFileTransferManager : public OfflineTransferManager {
public:
    // Not owned.
    explicit TempFileTransferManager(TransferManifestStore* store) : store_(store) {}

    // A transfer the manager does not hold is rebuilt from the store
    // (suspended, restored set) when its stored id is the one asked for.
    std::shared_ptr<Transfer> Find(const std::string& transferId, const TransferBehavior& behavior) override;

private:
    TransferManifestStore* const store_;
};

}  // namespace vrexa
