#include "workflow/AllowExecuteWork.h"

#include <boost/property_tree/ptree.hpp>

#include "file/Exception.h"
#include "file/Filesystem.h"
#include "manifest/PackageManifest.h"
#include "transfer/TransferFileExceptionData.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/LogRoutes.h"
#include "workflow/ProgramFile.h"

namespace vrexa {

AllowExecuteWork::AllowExecuteWork(std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(std::move(transfer)) {
    AddLogCompleteRoute(*this, GetTransfer()->GetBehavior(), true);
}

void AllowExecuteWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "AllowExecuteWork");
    DescribeTransfer(tree, true);
}

WorkStatus AllowExecuteWork::ExecuteTask() {
    const std::shared_ptr<PackageManifest> package = GetTransfer()->GetPackage();
    if (!package) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferErrorData>(TransferError::Unknown,
                                                              "AllowExecuteWork::ExecuteTask has no package"));
    }
    try {
        const std::string destPath = GetTransfer()->GetParams().destPath;
        file::Filesystem& filesystem = *GetTransfer()->GetBehavior().filesystem;
        for (const auto& file : package->GetFiles()) {
            if (!IsProgramFile(*GetTransfer(), file->GetPath())) {
                continue;
            }
            const std::uint64_t upper = file->GetSize() == 0 ? 0 : file->GetSize() - 1;
            const std::shared_ptr<file::SharedFile> opened =
                filesystem.OpenSharedFile(destPath, file->GetPath(), file::OpenMode::OpenExisting, true, 0, upper);
            if (!opened->AllowExecute()) {
                throw file::InUseException();
            }
        }
        return WorkStatus(WorkResult::Success, nullptr);
    } catch (...) {
        auto data = std::make_shared<TransferFileExceptionData>(std::current_exception());
        return WorkStatus(data->retryable ? WorkResult::RetryableError : WorkResult::FatalError, data);
    }
}

}  // namespace vrexa
