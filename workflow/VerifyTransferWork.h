#pragma once

#include <memory>

#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class DeferredWork;

// The root of the check of a package already on disk:
//
//   VerifyTransferWork
//     1 InitializeVerifyWork        manifests, country, policy, construction
//     2 DeferredWork                receives the file checks from step 1
//
// It downloads nothing and never creates, resizes, writes, removes or
// re-permissions a file. Its end is the transfer's end.
class VerifyTransferWork : public TransferWork, public SequentialWork {
public:
    explicit VerifyTransferWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<DeferredWork>& GetDeferredWork() const { return deferredWork_; }

private:
    std::shared_ptr<DeferredWork> deferredWork_;
};

}  // namespace vrexa
