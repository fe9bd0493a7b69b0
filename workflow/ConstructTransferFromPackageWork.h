#pragma once

#include <memory>

#include "workflow/ConstructFromPackageWork.h"

namespace vrexa {

// Builds the download of the package's files (a TransferMultipleFilesWork).
class ConstructTransferFromPackageWork : public ConstructFromPackageWork {
public:
    ConstructTransferFromPackageWork(std::shared_ptr<TransferWorkInterface> transfer,
                                     std::shared_ptr<DeferredWork> deferredWork);

protected:
    std::shared_ptr<Work> CreateFilesWork() override;
};

}  // namespace vrexa
