#pragma once

#include "manifest/GeolocationManifest.h"

namespace vrexa {

// The geolocation answer: "ip" and "country_code" required, "country_name",
// "country_code3", "continent_code" and "isp" optional.
class StandardGeolocationManifest : public GeolocationManifest {
public:
    void Read(const boost::property_tree::ptree& tree) override;

    const std::string& GetIp() const override { return ip_; }
    const std::string& GetCountryCode() const override { return countryCode_; }
    const std::string& GetCountryName() const override { return countryName_; }
    const std::string& GetCountryCode3() const override { return countryCode3_; }
    const std::string& GetContinentCode() const override { return continentCode_; }
    const std::string& GetIsp() const override { return isp_; }

private:
    std::string ip_;
    std::string countryCode_;
    std::string countryName_;
    std::string countryCode3_;
    std::string continentCode_;
    std::string isp_;
};

}  // namespace vrexa
