#include "workflow/ProgramFile.h"

#include <memory>

#include "file/Filesystem.h"
#include "manifest/PackageManifest.h"
#include "transfer/TransferWorkInterface.h"

namespace vrexa {

bool IsProgramFile(TransferWorkInterface& transfer, const std::string& path) {
    const std::shared_ptr<PackageManifest> package = transfer.GetPackage();
    if (package && !package->GetRun().empty() && path == package->GetRun()) {
        return true;
    }
    return transfer.GetBehavior().filesystem->IsExecutable(transfer.GetParams().destPath, path);
}

}  // namespace vrexa
