#include "service/SelfStartingTransfer.h"

namespace vrexa {

void SelfStartingTransfer::OnInitialize(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) {
    StandardTransfer::OnInitialize(lock, std::move(work), status);
    // "?" takes the destination the transfer was made with; without one the
    // start is refused and the transfer waits, Initialized, for its client.
    if (GetState(lock) == TransferState::Initialized) Start(lock, "?");
}

std::shared_ptr<Transfer> SelfStartingTransferFactory::Create(const TransferParams& params,
                                                              const TransferBehavior& behavior) {
    return std::make_shared<SelfStartingTransfer>(params, behavior, GetWorkflowFactory());
}

}  // namespace vrexa
