#include "workflow/InitializeTransferWork.h"

#include "workflow/ConstructTransferFromPackageWork.h"

namespace vrexa {

InitializeTransferWork::InitializeTransferWork(std::shared_ptr<TransferWorkInterface> transfer,
                                               std::shared_ptr<DeferredWork> deferredWork)
    : InitializeWork(std::move(transfer), "InitializeTransferWork") {
    AddChildren(std::make_shared<ConstructTransferFromPackageWork>(GetTransfer(), std::move(deferredWork)));
}

}  // namespace vrexa
