#include "service/TransferOperations.h"

#include "service/Transfer.h"
#include "service/TransferManager.h"
#include "transfer/TransferParams.h"

namespace vrexa {

TransferStatus TransferOperations::UnknownTransfer(const std::string& transferId) {
    TransferStatus status;
    status.transferId = transferId;
    status.partnerId = "?";
    status.packageId = "?";
    status.versionId = "?";
    status.destPath = "";
    status.state = TransferState::None;
    status.error = TransferError::None;
    return status;
}

TransferStatus TransferOperations::FailedCreation() {
    TransferStatus status;
    status.transferId = "";
    status.partnerId = "?";
    status.packageId = "?";
    status.versionId = "?";
    status.destPath = "?";
    status.state = TransferState::None;
    status.error = TransferError::Unknown;
    return status;
}

TransferStatus TransferOperations::Create(const TransferParams& params, const TransferBehavior& behavior) {
    std::shared_ptr<vrexa::Transfer> transfer = manager_.Create(params, behavior);
    return transfer ? transfer->Initialize() : FailedCreation();
}

TransferStatus TransferOperations::Transfer(const std::string& partnerId, const std::string& packageId,
                                            const std::string& versionId) {
    TransferParams params;
    params.partnerId = partnerId;
    params.packageId = packageId;
    params.versionId = versionId;
    return Create(params, behavior_);
}

bool TransferOperations::CanTransferTo(const std::string& transferId, const std::string& destPath) {
    std::shared_ptr<vrexa::Transfer> transfer = manager_.Find(transferId, behavior_);
    return transfer && transfer->CanTransferTo(destPath);
}

template <class Operation>
TransferStatus TransferOperations::Forward(const std::string& transferId, Operation&& operation) {
    std::shared_ptr<vrexa::Transfer> transfer = manager_.Find(transferId, behavior_);
    return transfer ? operation(*transfer) : UnknownTransfer(transferId);
}

TransferStatus TransferOperations::Start(const std::string& transferId, const std::string& destPath) {
    return Forward(transferId, [&](vrexa::Transfer& transfer) { return transfer.Start(destPath); });
}

TransferStatus TransferOperations::Update(const std::string& transferId) {
    return Forward(transferId, [](vrexa::Transfer& transfer) { return transfer.Update(); });
}

TransferStatus TransferOperations::Pause(const std::string& transferId) {
    return Forward(transferId, [](vrexa::Transfer& transfer) { return transfer.Pause(); });
}

TransferStatus TransferOperations::Resume(const std::string& transferId) {
    return Forward(transferId, [](vrexa::Transfer& transfer) { return transfer.Resume(); });
}

TransferStatus TransferOperations::Retry(const std::string& transferId) {
    return Forward(transferId, [](vrexa::Transfer& transfer) { return transfer.Retry(); });
}

TransferStatus TransferOperations::Suspend(const std::string& transferId) {
    return Forward(transferId, [](vrexa::Transfer& transfer) { return transfer.Suspend(); });
}

TransferStatus TransferOperations::Restore(const std::string& transferId) {
    return Forward(transferId, [](vrexa::Transfer& transfer) { return transfer.Restore(); });
}

TransferStatus TransferOperations::Cancel(const std::string& transferId, bool removeFiles) {
    return Forward(transferId, [&](vrexa::Transfer& transfer) { return transfer.Cancel(removeFiles); });
}

}  // namespace vrexa
