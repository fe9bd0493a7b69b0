#include "service/StandardTransferFactory.h"

#include "service/StandardTransfer.h"

namespace vrexa {

std::shared_ptr<Transfer> StandardTransferFactory::Create(const TransferParams& params,
                                                          const TransferBehavior& behavior) {
    return std::make_shared<StandardTransfer>(params, behavior, workflowFactory_);
}

}  // namespace vrexa
