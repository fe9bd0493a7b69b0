#include "workflow/InitializeWork.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferWorkInterface.h"
#include "workflow/GeofenceWork.h"
#include "workflow/GetGeolocationWork.h"
#include "workflow/GetManifestsWork.h"
#include "workflow/LogRoutes.h"

namespace vrexa {

InitializeWork::InitializeWork(std::shared_ptr<TransferWorkInterface> transfer, std::string name)
    : TransferWork(std::move(transfer)),
      SequentialWork(&GetTransfer()->GetInitializeCallback(), 4),
      name_(std::move(name)) {
    AddLogCompleteRoute(*this, GetTransfer()->GetBehavior(), false);
}

void InitializeWork::AddChildren(std::shared_ptr<Work> construction) {
    AddChild(std::make_shared<GetManifestsWork>(GetTransfer()));
    AddChild(std::make_shared<GetGeolocationWork>(GetTransfer()));
    AddChild(std::make_shared<GeofenceWork>(GetTransfer()));
    AddChild(std::move(construction));
}

void InitializeWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", name_);
    DescribeTransfer(tree, false);
}

}  // namespace vrexa
