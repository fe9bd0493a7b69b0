#pragma once

#include <string>

#include "transfer/TransferStatus.h"

namespace vrexa {

// What a client of the engine sees: transfers by id, each operation answered
// with a snapshot of the transfer's status. "?" stands for a value not given.
class TransferContract {
public:
    virtual ~TransferContract() = default;

    // A new transfer of the current version, initializing.
    virtual TransferStatus Transfer(const std::string& partnerId, const std::string& packageId) {
        return Transfer(partnerId, packageId, "?");
    }
    virtual TransferStatus Transfer(const std::string& partnerId, const std::string& packageId,
                                    const std::string& versionId) = 0;
    virtual bool CanTransferTo(const std::string& transferId, const std::string& destPath) = 0;
    virtual TransferStatus Start(const std::string& transferId) { return Start(transferId, "?"); }
    virtual TransferStatus Start(const std::string& transferId, const std::string& destPath) = 0;
    // A status poll that may also raise the periodic event.
    virtual TransferStatus Update(const std::string& transferId) = 0;
    virtual TransferStatus Pause(const std::string& transferId) = 0;
    virtual TransferStatus Resume(const std::string& transferId) = 0;
    virtual TransferStatus Retry(const std::string& transferId) = 0;
    virtual TransferStatus Suspend(const std::string& transferId) = 0;
    virtual TransferStatus Restore(const std::string& transferId) = 0;
    virtual TransferStatus Cancel(const std::string& transferId, bool removeFiles) = 0;
};

}  // namespace vrexa
