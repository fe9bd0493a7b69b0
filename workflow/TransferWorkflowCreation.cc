#include "workflow/TransferWorkflowCreation.h"

#include "transfer/TransferWorkInterface.h"
#include "work/StandardWorkflow.h"
#include "work/Work.h"

namespace vrexa {

std::shared_ptr<Workflow> CreateTransferWorkflow(TransferWorkInterface& transfer, std::shared_ptr<Work> root) {
    const TransferBehavior& behavior = transfer.GetBehavior();
    auto workflow = std::make_shared<StandardWorkflow>(root, behavior.transferWorkManager, behavior.maxRunningWorks);
    root->SetWorkflow(workflow);
    return workflow;
}

}  // namespace vrexa
