#include "workflow/ConstructFromPackageWork.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferStatusData.h"
#include "transfer/TransferWorkInterface.h"
#include "work/DeferredWork.h"
#include "workflow/LogRoutes.h"
#include "workflow/PackageLayout.h"

namespace vrexa {

ConstructFromPackageWork::ConstructFromPackageWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                   std::shared_ptr<DeferredWork> deferredWork, std::string name)
    : TransferWork(std::move(transfer)), deferredWork_(std::move(deferredWork)), name_(std::move(name)) {
    AddLogCompleteRoute(*this, GetTransfer()->GetBehavior(), false);
}

void ConstructFromPackageWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", name_);
    DescribeTransfer(tree, false);
}

WorkStatus ConstructFromPackageWork::ExecuteTask() {
    try {
        if (auto refusal = RefuseLayout(GetTransfer()->GetPackage(), name_ + "::ExecuteTask")) {
            return WorkStatus(WorkResult::FatalError, std::move(refusal));
        }
        if (!deferredWork_->Assign(CreateFilesWork())) {
            return WorkStatus(
                WorkResult::FatalError,
                std::make_shared<TransferErrorData>(TransferError::Unknown,
                                                    name_ + "::ExecuteTask failed; DeferredWork already assigned"));
        }
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (...) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::Unknown, std::current_exception()));
    }
}

}  // namespace vrexa
