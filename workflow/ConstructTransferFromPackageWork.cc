#include "workflow/ConstructTransferFromPackageWork.h"

#include "workflow/TransferMultipleFilesWork.h"

namespace vrexa {

ConstructTransferFromPackageWork::ConstructTransferFromPackageWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                                   std::shared_ptr<DeferredWork> deferredWork)
    : ConstructFromPackageWork(std::move(transfer), std::move(deferredWork), "ConstructTransferFromPackageWork") {}

std::shared_ptr<Work> ConstructTransferFromPackageWork::CreateFilesWork() {
    return std::make_shared<TransferMultipleFilesWork>(GetTransfer());
}

}  // namespace vrexa
