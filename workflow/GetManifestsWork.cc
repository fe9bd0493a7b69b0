#include "workflow/GetManifestsWork.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferWorkInterface.h"
#include "workflow/GetNodeListWork.h"
#include "workflow/GetPackageManifestWork.h"
#include "workflow/LogRoutes.h"

namespace vrexa {

GetManifestsWork::GetManifestsWork(std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(std::move(transfer)) {
    AddLogCompleteRoute(*this, GetTransfer()->GetBehavior(), false);
    Reserve(2);
    AddChild(std::make_shared<GetPackageManifestWork>(GetTransfer()));
    AddChild(std::make_shared<GetNodeListWork>(GetTransfer()));
}

void GetManifestsWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "GetManifestsWork");
    DescribeTransfer(tree, false);
}

}  // namespace vrexa
