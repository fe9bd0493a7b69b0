#pragma once

#include <memory>

#include "work/TransferWorkflowFactory.h"

namespace vrexa {

// Makes the workflow that downloads a package: its root is a
// TransferPackageWork.
class TransferPackageWorkflowFactory : public TransferWorkflowFactory {
public:
    std::shared_ptr<Workflow> CreateWorkflow(std::shared_ptr<TransferWorkInterface> transfer) override;
};

}  // namespace vrexa
