#pragma once

#include "manifest/InputManifest.h"
#include "manifest/OutputManifest.h"
#include "transfer/TransferParams.h"

namespace vrexa {

// A transfer's identifiers and destination as stored for a later process:
// "transferId", "partnerId", "packageId", "versionId" and "destPath", five
// strings at the top level.
class TransferManifest : public InputManifest, public OutputManifest {
public:
    TransferManifest() = default;
    explicit TransferManifest(TransferParams params) : params_(std::move(params)) {}

    // Resets the params to their defaults, then reads the five members; a
    // missing member, or one that is not a plain value, is a
    // ManifestParseException.
    void Read(const boost::property_tree::ptree& tree) override;
    // Any failure is a ManifestParseException.
    void Write(boost::property_tree::ptree& tree) override;

    const TransferParams& GetParams() const { return params_; }

private:
    TransferParams params_;
};

}  // namespace vrexa
