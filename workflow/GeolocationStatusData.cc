#include "workflow/GeolocationStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/GeolocationManifest.h"

namespace vrexa {

void GeolocationStatusData::Describe(boost::property_tree::ptree& tree) const {
    if (!geolocation_ || geolocation_->GetCountryCode().empty()) {
        tree.put("geolocation", "null");
        return;
    }
    tree.put("ip", geolocation_->GetIp());
    tree.put("country", geolocation_->GetCountryCode());
}

std::string GeolocationStatusData::ToString() const {
    return "error|" + TransferErrorText(ToTransferError()) + "|" +
           (geolocation_ ? geolocation_->GetCountryCode() : std::string("null"));
}

}  // namespace vrexa
