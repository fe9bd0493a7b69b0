#pragma once

#include <memory>

#include "workflow/ManifestFetchWork.h"

namespace vrexa {

// Asks the geolocation service where the client is. A location that cannot
// be had never stops a transfer: after its retries the work succeeds with an
// empty answer, and the country policy then sees no country.
class GetGeolocationWork : public ManifestFetchWork {
public:
    explicit GetGeolocationWork(std::shared_ptr<TransferWorkInterface> transfer);

    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
};

}  // namespace vrexa
