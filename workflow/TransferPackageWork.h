#pragma once

#include <memory>

#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class DeferredWork;

// The root of a package download:
//
//   TransferPackageWork
//     1 InitializeTransferWork      manifests, country, policy, construction
//     2 DeferredWork                receives the file transfer from step 1
//     3 AllowExecuteWork            only with the setting allowExecute
//
// Its end is the transfer's end.
class TransferPackageWork : public TransferWork, public SequentialWork {
public:
    explicit TransferPackageWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<DeferredWork>& GetDeferredWork() const { return deferredWork_; }

private:
    std::shared_ptr<DeferredWork> deferredWork_;
};

}  // namespace vrexa
