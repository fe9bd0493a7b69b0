#include "service/StoredTransfer.h"

#include "transfer/ManifestStore.h"
#include "transfer/TransferManifest.h"

namespace vrexa {

StoredTransfer::StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                               TransferWorkflowFactory* workflowFactory, TransferManifestStore* store)
    : StandardTransfer(params, behavior, workflowFactory), store_(store) {}

TransferStatus StoredTransfer::Start(TransferLock& lock, const std::string& destPath) {
    const TransferState before = GetState(lock);
    TransferStatus status = StandardTransfer::Start(lock, destPath);
    if (before == TransferState::Initialized && status.state == TransferState::Transferring) {
        // Written once the lock is released, so a poll never waits on the
        // disk; queued work runs in order, so a Cancel that follows still
        // removes the entry after it was written. Only the first write for an
        // id creates the entry; a later one fails quietly and the entry,
        // identical anyway, stays.
        lock.Defer([store = store_, params = GetParams(lock)] {
            TransferManifest manifest(params);
            store->Write(params.transferId, manifest);
        });
    }
    return status;
}

TransferStatus StoredTransfer::Cancel(TransferLock& lock, bool removeFiles) {
    TransferStatus status = StandardTransfer::Cancel(lock, removeFiles);
    const bool keptForLater = status.state == TransferState::Suspended && status.error == TransferError::None;
    if (!keptForLater) {
        lock.Defer([store = store_, transferId = status.transferId] { store->Remove(transferId); });
    }
    return status;
}

}  // namespace vrexa
