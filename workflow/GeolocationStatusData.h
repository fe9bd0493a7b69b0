#pragma once

#include <memory>
#include <string>

#include "transfer/TransferStatusData.h"

namespace vrexa {

class GeolocationManifest;

// The client's location as the geolocation service answered it (an empty
// answer when it could not be had). It travels with the fetch's success and
// is what a blocked country is reported with, hence its error.
class GeolocationStatusData : public TransferStatusData {
public:
    explicit GeolocationStatusData(std::shared_ptr<GeolocationManifest> geolocation)
        : geolocation_(std::move(geolocation)) {}

    TransferError ToTransferError() const override { return TransferError::GeofenceBlocked; }
    // "ip" and "country" when a country is known; otherwise "geolocation" = "null".
    void Describe(boost::property_tree::ptree& tree) const override;
    // "error|10|" + the country code, or "error|10|null" without a geolocation.
    std::string ToString() const override;

    const std::shared_ptr<GeolocationManifest>& GetGeolocation() const { return geolocation_; }

private:
    std::shared_ptr<GeolocationManifest> geolocation_;
};

}  // namespace vrexa
