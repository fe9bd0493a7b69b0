#include "workflow/VerifyTransferWorkflowFactory.h"

#include "transfer/TransferWorkInterface.h"
#include "work/Workflow.h"
#include "workflow/TransferWorkflowCreation.h"
#include "workflow/VerifyTransferWork.h"

namespace vrexa {

std::shared_ptr<Workflow> VerifyTransferWorkflowFactory::CreateWorkflow(
    std::shared_ptr<TransferWorkInterface> transfer) {
    return CreateTransferWorkflow(*transfer, std::make_shared<VerifyTransferWork>(transfer));
}

}  // namespace vrexa
