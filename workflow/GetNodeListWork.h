#pragma once

#include <memory>

#include "workflow/ManifestFetchWork.h"

namespace vrexa {

// Fetches the node list of the transfer's partner. How many nodes it holds
// is not checked here.
class GetNodeListWork : public ManifestFetchWork {
public:
    explicit GetNodeListWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
};

}  // namespace vrexa
