#pragma once

#include "service/TransferFactory.h"

namespace vrexa {

class TransferWorkflowFactory;

// Plain transfers, without a store, running the given factory's workflows.
class StandardTransferFactory : public TransferFactory {
public:
    // Not owned; must outlive every transfer made.
    explicit StandardTransferFactory(TransferWorkflowFactory* workflowFactory) : workflowFactory_(workflowFactory) {}

    std::shared_ptr<Transfer> Create(const TransferParams& params, const TransferBehavior& behavior) override;

protected:
    TransferWorkflowFactory* GetWorkflowFactory() const { return workflowFactory_; }

private:
    TransferWorkflowFactory* const workflowFactory_;
};

}  // namespace vrexa
