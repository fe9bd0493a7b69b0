#pragma once

#include <memory>

#include "work/SimpleWork.h"
#include "work/TransferWork.h"

namespace vrexa {

// The last step of a download: the package's programs, created unable to run
// while their bytes were unverified, may run now. Programs are the files with
// an executable extension and the package's run file whatever its name, since
// the run file is what gets started and on some systems no extension marks a
// program.
class AllowExecuteWork : public TransferWork, public SimpleWork {
public:
    explicit AllowExecuteWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}
};

}  // namespace vrexa
