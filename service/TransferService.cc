#include "service/TransferService.h"

#include "service/TransferOperations.h"
#include "service/TransferServiceCore.h"
#include "workflow/TransferPackageWorkflowFactory.h"
#include "workflow/VerifyTransferWorkflowFactory.h"

namespace vrexa {

TransferService::TransferService(const TransferSettings& settings)
    : core_(std::make_unique<TransferServiceCore>(settings, std::make_unique<TransferPackageWorkflowFactory>(),
                                                  std::make_unique<VerifyTransferWorkflowFactory>())) {}

TransferService::TransferService(std::unique_ptr<TransferServiceCore> core) : core_(std::move(core)) {}

TransferService::~TransferService() = default;

TransferStatus TransferService::Transfer(const std::string& partnerId, const std::string& packageId,
                                         const std::string& versionId) {
    return core_->Operations().Transfer(partnerId, packageId, versionId);
}

bool TransferService::CanTransferTo(const std::string& transferId, const std::string& destPath) {
    return core_->Operations().CanTransferTo(transferId, destPath);
}

TransferStatus TransferService::Start(const std::string& transferId, const std::string& destPath) {
    return core_->Operations().Start(transferId, destPath);
}

TransferStatus TransferService::Update(const std::string& transferId) { return core_->Operations().Update(transferId); }

TransferStatus TransferService::Pause(const std::string& transferId) { return core_->Operations().Pause(transferId); }

TransferStatus TransferService::Resume(const std::string& transferId) { return core_->Operations().Resume(transferId); }

TransferStatus TransferService::Retry(const std::string& transferId) { return core_->Operations().Retry(transferId); }

TransferStatus TransferService::Suspend(const std::string& transferId) {
    return core_->Operations().Suspend(transferId);
}

TransferStatus TransferService::Restore(const std::string& transferId) {
    return core_->Operations().Restore(transferId);
}

TransferStatus TransferService::Cancel(const std::string& transferId, bool removeFiles) {
    return core_->Operations().Cancel(transferId, removeFiles);
}

TransferStatus TransferService::Verify(const std::string& partnerId, const std::string& packageId,
                                       const std::string& versionId, const std::string& destPath) {
    return core_->Verify(partnerId, packageId, versionId, destPath);
}

TransferBehavior TransferService::GetBehavior() const { return core_->GetBehavior(); }

}  // namespace vrexa
