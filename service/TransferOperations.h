#pragma once

#include <string>

#include "service/TransferContract.h"
#include "transfer/TransferBehavior.h"

namespace vrexa {

class TransferManager;
class TransferParams;

// The service's operations over a manager: find the transfer by id, forward,
// and answer with its status; the statuses the service makes itself for an
// unknown id or a failed creation. Safe from several threads at once: the
// manager serializes its map, each transfer its own operations.
class TransferOperations : public TransferContract {
public:
    // Neither owned; both must outlive this object.
    TransferOperations(TransferManager& manager, const TransferBehavior& behavior)
        : manager_(manager), behavior_(behavior) {}

    using TransferContract::Start;
    using TransferContract::Transfer;
    TransferStatus Transfer(const std::string& partnerId, const std::string& packageId,
                            const std::string& versionId) override;
    bool CanTransferTo(const std::string& transferId, const std::string& destPath) override;
    TransferStatus Start(const std::string& transferId, const std::string& destPath) override;
    TransferStatus Update(const std::string& transferId) override;
    TransferStatus Pause(const std::string& transferId) override;
    TransferStatus Resume(const std::string& transferId) override;
    TransferStatus Retry(const std::string& transferId) override;
    TransferStatus Suspend(const std::string& transferId) override;
    TransferStatus Restore(const std::string& transferId) override;
    TransferStatus Cancel(const std::string& transferId, bool removeFiles) override;

    // A new transfer of params (the manager gives it its id) under the given
    // behaviour, whose factory decides what kind of transfer it is;
    // initializing.
    TransferStatus Create(const TransferParams& params, const TransferBehavior& behavior);

    // What the service answers for an id it does not hold, and for a
    // creation that failed.
    static TransferStatus UnknownTransfer(const std::string& transferId);
    static TransferStatus FailedCreation();

private:
    template <class Operation>
    TransferStatus Forward(const std::string& transferId, Operation&& operation);

    TransferManager& manager_;
    const TransferBehavior& behavior_;
};

}  // namespace vrexa
