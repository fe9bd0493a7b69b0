#pragma once

#include <mutex>
#include <unordered_map>

#include "service/TransferManager.h"

namespace vrexa {

// The in-memory manager: a map from id to transfer that only grows.
class OfflineTransferManager : public TransferManager {
public:
    OfflineTransferManager();

    std::shared_ptr<Transfer> Create(const TransferParams& params, const TransferBehavior& behavior) override;
    std::shared_ptr<Transfer> Find(const std::string& transferId, const TransferBehavior& behavior) override;
    void Shutdown() override;

protected:
    // Both under mutex_.
    bool IsShutDown() const { return shutDown_; }
    // Inserts unless the id is taken; the transfer under the id afterwards.
    std::shared_ptr<Transfer> Insert(const std::string& transferId, std::shared_ptr<Transfer> transfer);

    std::recursive_mutex mutex_;

private:
    bool shutDown_ = false;
    std::unordered_map<std::string, std::shared_ptr<Transfer>> transfers_;
};

}  // namespace vrexa
