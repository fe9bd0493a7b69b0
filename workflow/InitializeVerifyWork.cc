#include "workflow/InitializeVerifyWork.h"

#include "workflow/ConstructVerifyFromPackageWork.h"

namespace vrexa {

InitializeVerifyWork::InitializeVerifyWork(std::shared_ptr<TransferWorkInterface> transfer,
                                           std::shared_ptr<DeferredWork> deferredWork)
    : InitializeWork(std::move(transfer), "InitializeVerifyWork") {
    AddChildren(std::make_shared<ConstructVerifyFromPackageWork>(GetTransfer(), std::move(deferredWork)));
}

}  // namespace vrexa
