#include "workflow/TransferPackageWorkflowFactory.h"

#include "transfer/TransferWorkInterface.h"
#include "work/Workflow.h"
#include "workflow/TransferPackageWork.h"
#include "workflow/TransferWorkflowCreation.h"

namespace vrexa {

std::shared_ptr<Workflow> TransferPackageWorkflowFactory::CreateWorkflow(
    std::shared_ptr<TransferWorkInterface> transfer) {
    return CreateTransferWorkflow(*transfer, std::make_shared<TransferPackageWork>(transfer));
}

}  // namespace vrexa
