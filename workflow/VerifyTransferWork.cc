#include "workflow/VerifyTransferWork.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferWorkInterface.h"
#include "work/DeferredWork.h"
#include "workflow/InitializeVerifyWork.h"
#include "workflow/LogRoutes.h"

namespace vrexa {

VerifyTransferWork::VerifyTransferWork(std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(std::move(transfer)), SequentialWork(&GetTransfer()->GetWorkCompleteCallback(), 2) {
    const TransferBehavior& behavior = GetTransfer()->GetBehavior();
    AddLogCompleteRoute(*this, behavior, true);
    deferredWork_ = std::make_shared<DeferredWork>();
    AddLogCompleteRoute(*deferredWork_, behavior, false);
    AddChild(std::make_shared<InitializeVerifyWork>(GetTransfer(), deferredWork_));
    AddChild(deferredWork_);
}

void VerifyTransferWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "VerifyTransferWork");
    DescribeTransfer(tree, false);
}

}  // namespace vrexa
