#pragma once

#include "service/StoredTransfer.h"
#include "service/TransferFactory.h"

namespace vrexa {

// Makes stored transfers running the given factory's workflows.
class StoredTransferFactory : public TransferFactory {
public:
    // Neither owned; both must outlive every transfer made.
    StoredTransferFactory(TransferManifestStore* store, TransferWorkflowFactory* workflowFactory)
        : store_(store), workflowFactory_(workflowFactory) {}

    std::shared_ptr<Transfer> Create(const TransferParams& params, const TransferBehavior& behavior) override;

private:
    TransferManifestStore* const store_;
    TransferWorkflowFactory* const workflowFactory_;
};

}  // namespace vrexa
