#include "manifest/StandardGeolocationManifest.h"

#include "manifest/ManifestReading.h"

namespace vrexa {

void StandardGeolocationManifest::Read(const boost::property_tree::ptree& tree) {
    using namespace reading;
    Guarded([&] {
        ip_ = RequiredText(tree, "ip");
        countryCode_ = RequiredText(tree, "country_code");
        countryName_ = OptionalText(tree, "country_name");
        countryCode3_ = OptionalText(tree, "country_code3");
        continentCode_ = OptionalText(tree, "continent_code");
        isp_ = OptionalText(tree, "isp");
        if (ip_.empty() || countryCode_.empty()) Reject();
    });
}

}  // namespace vrexa
