#pragma once

#include <memory>
#include <string>

#include "work/SimpleWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class DeferredWork;

// Builds the work over the package's files once the package is known, and
// places it in the root's deferred slot, which receives it exactly once. A
// package whose files cannot be laid out in one folder (one file named
// twice, a file that is also a folder, a total size beyond 64 bits) is
// refused here, before any file is touched.
class ConstructFromPackageWork : public TransferWork, public SimpleWork {
public:
    // name: the class name, for descriptions and messages.
    ConstructFromPackageWork(std::shared_ptr<TransferWorkInterface> transfer,
                             std::shared_ptr<DeferredWork> deferredWork, std::string name);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}

protected:
    // The work over the package's files; may throw, which ends the step.
    virtual std::shared_ptr<Work> CreateFilesWork() = 0;

private:
    const std::shared_ptr<DeferredWork> deferredWork_;
    const std::string name_;
};

}  // namespace vrexa
