#include "service/StoredTransfer.h"

#include "transfer/ManifestStore.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferId.h"
#include "transfer/TransferManifest.h"

namespace vrexa {

StoredTransfer::StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                               TransferWorkflowFactory* workflowFactory, TransferManifestStore* store)
    : StandardTransfer(params, behavior, workflowFactory), store_(store) {}

TransferStatus StoredTransfer::Start(TransferLock& lock, const std::string& destPath) {
    const TransferState before = GetState(lock);
    TransferStatus status = StandardTransfer::Start(lock, destPath);
    if (before == TransferState::Initialized && status.state == TransferState::Transferring) {
        // Only the first write for an id creates the entry; a later one
        // fails quietly and the entry, identical anyway, stays.
        TransferManifest manifest(GetParams(lock));
        store_->Write(status.transferId, manifest);
    }
    return status;
}

TransferStatus StoredTransfer::Cancel(TransferLock& lock, bool removeFiles) {
    TransferStatus status = StandardTransfer::Cancel(lock, removeFiles);
    const bool keptForLater = status.state == TransferState::Suspended && status.error == TransferError::None;
    if (!keptForLater) store_->Remove(status.transferId);
    return status;
}

std::shared_ptr<Transfer> StoredTransferFactory::Create(const TransferParams& params,
                                                        const TransferBehavior& behavior) {
    return std::make_shared<StoredTransfer>(params, behavior, workflowFactory_, store_);
}

std::shared_ptr<Transfer> TempFileTransferManager::Find(const std::string& transferId,
                                                        const TransferBehavior& behavior) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    // Nothing comes back from the store once the service is going away.
    if (IsShutDown()) return nullptr;
    if (std::shared_ptr<Transfer> held = OfflineTransferManager::Find(transferId, behavior)) return held;
    if (!IsTransferId(transferId) || behavior.transferFactory == nullptr) return nullptr;
    TransferManifest manifest{TransferParams()};
    if (!store_->Read(transferId, manifest) || manifest.GetParams().transferId != transferId) return nullptr;
    TransferParams params = manifest.GetParams();
    params.restored = true;
    std::shared_ptr<Transfer> transfer = behavior.transferFactory->Create(params, behavior);
    return transfer ? Insert(transferId, std::move(transfer)) : nullptr;
}

}  // namespace vrexa
