#pragma once

#include <memory>

#include "workflow/ConstructFromPackageWork.h"

namespace vrexa {

// Builds the check of the package's files on disk (a
// LazyParallelVerifyMultipleFilesWork).
class ConstructVerifyFromPackageWork : public ConstructFromPackageWork {
public:
    ConstructVerifyFromPackageWork(std::shared_ptr<TransferWorkInterface> transfer,
                                   std::shared_ptr<DeferredWork> deferredWork);

protected:
    std::shared_ptr<Work> CreateFilesWork() override;
};

}  // namespace vrexa
