#pragma once

#include <memory>

namespace vrexa {

class TransferWorkInterface;
class Workflow;

// Makes the workflow of one transfer: reads the running limit and the work
// manager from the transfer's behaviour, builds the root work, creates the
// workflow around it and hands the workflow down the tree. The workflow comes
// back not started.
class TransferWorkflowFactory {
public:
    virtual ~TransferWorkflowFactory() = default;
    virtual std::shared_ptr<Workflow> CreateWorkflow(std::shared_ptr<TransferWorkInterface> transfer) = 0;
};

}  // namespace vrexa
