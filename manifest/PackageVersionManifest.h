#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/InputManifest.h"

namespace vrexa {

// The "version" block of a package manifest: the version's run file and its
// country policy.
class PackageVersionManifest : public InputManifest {
public:
    enum class Policy : std::uint8_t { None = 1, Whitelist = 2, Blacklist = 3 };

    // Reads the block at once; throws ManifestParseException when it is invalid.
    explicit PackageVersionManifest(const boost::property_tree::ptree& tree);

    void Read(const boost::property_tree::ptree& tree) override;

    const std::string& GetId() const { return id_; }
    const std::string& GetRun() const { return run_; }
    Policy GetPolicy() const { return policy_; }
    const std::vector<std::string>& GetCountryCodes() const { return countryCodes_; }

    // None allows every country; a whitelist only the listed codes; a blacklist
    // every code but the listed ones. Codes compare exactly (case-sensitively).
    bool IsCountryAllowed(const std::string& countryCode) const;

private:
    std::string id_;
    std::string run_;
    Policy policy_ = Policy::None;
    std::vector<std::string> countryCodes_;
};

}  // namespace vrexa
