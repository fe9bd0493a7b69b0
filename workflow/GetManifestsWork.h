#pragma once

#include <memory>

#include "work/ParallelWork.h"
#include "work/TransferWork.h"

namespace vrexa {

// Fetches the package manifest and the node list at the same time.
class GetManifestsWork : public TransferWork, public ParallelWork {
public:
    explicit GetManifestsWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;
};

}  // namespace vrexa
