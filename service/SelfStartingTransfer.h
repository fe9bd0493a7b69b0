#pragma once

#include "service/StandardTransfer.h"
#include "service/StandardTransferFactory.h"

namespace vrexa {

// A transfer made with its destination that starts itself into it as soon
// as it is initialized, in the same hold of its lock, so no client ever sees
// it Initialized or has to call Start. Checking a package already on disk
// works this way: there is nothing to decide between initialization and the
// run. Without a destination it waits for Start like any transfer.
class SelfStartingTransfer : public StandardTransfer {
public:
    using StandardTransfer::StandardTransfer;

    void OnInitialize(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) override;
};

// Plain transfers, as StandardTransferFactory makes them, that start
// themselves.
class SelfStartingTransferFactory : public StandardTransferFactory {
public:
    using StandardTransferFactory::StandardTransferFactory;

    std::shared_ptr<Transfer> Create(const TransferParams& params, const TransferBehavior& behavior) override;
};

}  // namespace vrexa
