#include "service/StoredTransferFactory.h"

namespace vrexa {

std::shared_ptr<Transfer> StoredTransferFactory::Create(const TransferParams& params,
                                                        const TransferBehavior& behavior) {
    return std::make_shared<StoredTransfer>(params, behavior, workflowFactory_, store_);
}

}  // namespace vrexa
