#pragma once

#include <memory>

#include "workflow/InitializeWork.h"

namespace vrexa {

class DeferredWork;

// The initialization of a verification: the same fetches and country policy
// as a download; its construction step builds the check of the files.
class InitializeVerifyWork : public InitializeWork {
public:
    InitializeVerifyWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<DeferredWork> deferredWork);
};

}  // namespace vrexa
