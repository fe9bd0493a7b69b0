#include "service/OfflineTransferManager.h"

#include <vector>

#include "service/Transfer.h"
#include "service/TransferFactory.h"
#include "service/TransferIdGenerator.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferParams.h"

namespace vrexa {

OfflineTransferManager::OfflineTransferManager() : transfers_(11) { transfers_.max_load_factor(1.0f); }

std::shared_ptr<Transfer> OfflineTransferManager::Create(const TransferParams& params,
                                                         const TransferBehavior& behavior) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (shutDown_ || behavior.transferFactory == nullptr) return nullptr;
    for (;;) {
        TransferParams withId = params;
        withId.transferId = NewTransferId();
        std::shared_ptr<Transfer> transfer = behavior.transferFactory->Create(withId, behavior);
        if (!transfer) return nullptr;
        // A clash of two random ids is next to impossible; a new id settles it.
        if (transfers_.emplace(withId.transferId, transfer).second) return transfer;
    }
}

std::shared_ptr<Transfer> OfflineTransferManager::Find(const std::string& transferId, const TransferBehavior&) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (shutDown_) return nullptr;
    auto found = transfers_.find(transferId);
    return found == transfers_.end() ? nullptr : found->second;
}

std::shared_ptr<Transfer> OfflineTransferManager::Insert(const std::string& transferId,
                                                         std::shared_ptr<Transfer> transfer) {
    return transfers_.emplace(transferId, std::move(transfer)).first->second;
}

void OfflineTransferManager::Shutdown() {
    std::vector<std::shared_ptr<Transfer>> transfers;
    {
        // A copy: suspending runs outside the mutex, while other threads may
        // still look transfers up (and find nothing).
        std::lock_guard<std::recursive_mutex> guard(mutex_);
        shutDown_ = true;
        transfers.reserve(transfers_.size());
        for (const auto& entry : transfers_)
            transfers.push_back(entry.second);
    }
    for (const auto& transfer : transfers)
        transfer->Suspend();
}

}  // namespace vrexa
