#pragma once

#include <memory>
#include <string>

#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

// Everything a transfer does before it touches a file: the package manifest
// and node list (in parallel), the client's country, the country policy, and
// last the construction step that builds the work over the files into the
// root's deferred slot. Its end is the transfer's initialization.
class InitializeWork : public TransferWork, public SequentialWork {
public:
    // name: the class name, for descriptions.
    InitializeWork(std::shared_ptr<TransferWorkInterface> transfer, std::string name);

    void Describe(boost::property_tree::ptree& tree) const override;

protected:
    // Adds the fetching and policy steps, then the construction step.
    void AddChildren(std::shared_ptr<Work> construction);

private:
    const std::string name_;
};

}  // namespace vrexa
