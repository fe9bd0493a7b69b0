#include "workflow/ConstructVerifyFromPackageWork.h"

#include "workflow/LazyParallelVerifyMultipleFilesWork.h"

namespace vrexa {

ConstructVerifyFromPackageWork::ConstructVerifyFromPackageWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                               std::shared_ptr<DeferredWork> deferredWork)
    : ConstructFromPackageWork(std::move(transfer), std::move(deferredWork), "ConstructVerifyFromPackageWork") {}

std::shared_ptr<Work> ConstructVerifyFromPackageWork::CreateFilesWork() {
    return std::make_shared<LazyParallelVerifyMultipleFilesWork>(GetTransfer());
}

}  // namespace vrexa
