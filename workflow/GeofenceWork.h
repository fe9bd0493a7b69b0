#pragma once

#include <memory>

#include "work/SimpleWork.h"
#include "work/TransferWork.h"

namespace vrexa {

// Applies the package's country policy to the client's country. An unknown
// country (no geolocation answer) is checked as the empty code, so a list of
// allowed countries blocks it and a list of blocked ones lets it pass.
class GeofenceWork : public TransferWork, public SimpleWork {
public:
    explicit GeofenceWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}
};

}  // namespace vrexa
