#include "manifest/PackageVersionManifest.h"

#include <algorithm>

#include "manifest/ManifestReading.h"

namespace vrexa {

PackageVersionManifest::PackageVersionManifest(const boost::property_tree::ptree& tree) { Read(tree); }

void PackageVersionManifest::Read(const boost::property_tree::ptree& tree) {
    using namespace reading;
    Guarded([&] {
        id_ = RequiredText(tree, "id");
        run_ = OptionalText(tree, "run");
        const std::string policy = OptionalText(tree, "policy");
        // 0 stands for "not given" while reading: codes without a policy are an
        // error, no policy and no codes is None.
        std::uint8_t code = 0;
        if (policy == "None") {
            code = static_cast<std::uint8_t>(Policy::None);
        } else if (policy == "Whitelist") {
            code = static_cast<std::uint8_t>(Policy::Whitelist);
        } else if (policy == "Blacklist") {
            code = static_cast<std::uint8_t>(Policy::Blacklist);
        } else if (!policy.empty()) {
            Reject();
        }
        countryCodes_.clear();
        if (const ptree* codes = FindChild(tree, "countryCodes")) {
            for (const auto& [key, child] : *codes) {
                if (key != "countryCode") Reject();
                countryCodes_.push_back(child.data());
            }
        }
        if (id_.empty()) Reject();
        if (!countryCodes_.empty() && code == 0) Reject();
        if (std::any_of(countryCodes_.begin(), countryCodes_.end(),
                        [](const std::string& c) { return c.size() != 2; })) {
            Reject();
        }
        policy_ = code == 0 ? Policy::None : static_cast<Policy>(code);
    });
}

bool PackageVersionManifest::IsCountryAllowed(const std::string& countryCode) const {
    if (policy_ == Policy::None) return true;
    const bool listed = std::find(countryCodes_.begin(), countryCodes_.end(), countryCode) != countryCodes_.end();
    return policy_ == Policy::Whitelist ? listed : !listed;
}

}  // namespace vrexa
