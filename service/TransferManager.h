#pragma once

#include <memory>
#include <string>

namespace vrexa {

class Transfer;
class TransferBehavior;
class TransferParams;

// Owns the live transfers of one service by id.
class TransferManager {
public:
    TransferManager() = default;
    TransferManager(const TransferManager&) = delete;
    TransferManager& operator=(const TransferManager&) = delete;
    virtual ~TransferManager() = default;

    // A new transfer with a fresh id, made by behavior's transfer factory;
    // null after Shutdown.
    virtual std::shared_ptr<Transfer> Create(const TransferParams& params, const TransferBehavior& behavior) = 0;
    // Null when the id is unknown, and after Shutdown.
    virtual std::shared_ptr<Transfer> Find(const std::string& transferId, const TransferBehavior& behavior) = 0;
    // No more transfers are made or found; every transfer is suspended (or
    // cancelled when it was never stored).
    virtual void Shutdown() = 0;
};

}  // namespace vrexa
