#include "workflow/TransferPackageWork.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferWorkInterface.h"
#include "work/DeferredWork.h"
#include "workflow/AllowExecuteWork.h"
#include "workflow/InitializeTransferWork.h"
#include "workflow/LogRoutes.h"

namespace vrexa {

TransferPackageWork::TransferPackageWork(std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(std::move(transfer)),
      SequentialWork(&GetTransfer()->GetWorkCompleteCallback(), GetTransfer()->GetBehavior().allowExecute ? 3 : 2) {
    const TransferBehavior& behavior = GetTransfer()->GetBehavior();
    AddLogCompleteRoute(*this, behavior, true);
    deferredWork_ = std::make_shared<DeferredWork>();
    AddLogCompleteRoute(*deferredWork_, behavior, false);
    AddChild(std::make_shared<InitializeTransferWork>(GetTransfer(), deferredWork_));
    AddChild(deferredWork_);
    if (behavior.allowExecute) {
        AddChild(std::make_shared<AllowExecuteWork>(GetTransfer()));
    }
}

void TransferPackageWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "TransferPackageWork");
    DescribeTransfer(tree, false);
}

}  // namespace vrexa
