#pragma once

#include <string>

#include "manifest/InputManifest.h"

namespace vrexa {

// Where the client is, as the geolocation service sees it.
class GeolocationManifest : public InputManifest {
public:
    virtual const std::string& GetIp() const = 0;
    virtual const std::string& GetCountryCode() const = 0;
    virtual const std::string& GetCountryName() const = 0;
    virtual const std::string& GetCountryCode3() const = 0;
    virtual const std::string& GetContinentCode() const = 0;
    virtual const std::string& GetIsp() const = 0;
};

}  // namespace vrexa
