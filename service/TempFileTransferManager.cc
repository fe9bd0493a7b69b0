#include "service/TempFileTransferManager.h"

#include "service/Transfer.h"
#include "service/TransferFactory.h"
#include "transfer/ManifestStore.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferId.h"
#include "transfer/TransferManifest.h"

namespace vrexa {

std::shared_ptr<Transfer> TempFileTransferManager::Find(const std::string& transferId,
                                                        const TransferBehavior& behavior) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    // Nothing comes back from the store once the service is going away: a
    // transfer restored now would never be suspended.
    if (IsShutDown()) return nullptr;
    if (std::shared_ptr<Transfer> held = OfflineTransferManager::Find(transferId, behavior)) return held;
    if (!IsTransferId(transferId) || behavior.transferFactory == nullptr) return nullptr;
    TransferManifest manifest;
    if (!store_->Read(transferId, manifest) || manifest.GetParams().transferId != transferId) return nullptr;
    TransferParams params = manifest.GetParams();
    params.restored = true;
    std::shared_ptr<Transfer> transfer = behavior.transferFactory->Create(params, behavior);
    return transfer ? Insert(transferId, std::move(transfer)) : nullptr;
}

}  // namespace vrexa
