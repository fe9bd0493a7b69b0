#pragma once

#include <memory>

#include "workflow/InitializeWork.h"

namespace vrexa {

class DeferredWork;

// The initialization of a download; its construction step builds the
// file transfer.
class InitializeTransferWork : public InitializeWork {
public:
    InitializeTransferWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<DeferredWork> deferredWork);
};

}  // namespace vrexa
