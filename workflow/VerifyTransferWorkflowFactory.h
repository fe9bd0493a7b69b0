#pragma once

#include <memory>

#include "work/TransferWorkflowFactory.h"

namespace vrexa {

// Makes the workflow that checks a package already on disk: its root is a
// VerifyTransferWork.
class VerifyTransferWorkflowFactory : public TransferWorkflowFactory {
public:
    std::shared_ptr<Workflow> CreateWorkflow(std::shared_ptr<TransferWorkInterface> transfer) override;
};

}  // namespace vrexa
