#include "transfer/TransferManifest.h"

#include <string>

#include "manifest/ManifestException.h"

namespace vrexa {

void TransferManifest::Read(const boost::property_tree::ptree& tree) {
    params_ = TransferParams();
    try {
        const auto read = [&tree](const char* key) {
            const auto found = tree.find(key);
            if (found == tree.not_found() || !found->second.empty()) {
                throw ManifestParseException();
            }
            return found->second.data();
        };
        params_.transferId = read("transferId");
        params_.partnerId = read("partnerId");
        params_.packageId = read("packageId");
        params_.versionId = read("versionId");
        params_.destPath = read("destPath");
    } catch (...) {
        throw ManifestParseException();
    }
}

void TransferManifest::Write(boost::property_tree::ptree& tree) {
    try {
        params_.Describe(tree);
    } catch (...) {
        throw ManifestParseException();
    }
}

}  // namespace vrexa
