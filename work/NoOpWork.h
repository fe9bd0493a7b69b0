#pragma once

#include "work/SimpleWork.h"

namespace vrexa {

// Fills a branch that has nothing to do: succeeds at once.
class NoOpWork : public SimpleWork {
public:
    using SimpleWork::SimpleWork;

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override;
};

}  // namespace vrexa
