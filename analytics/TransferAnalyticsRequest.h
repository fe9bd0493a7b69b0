#pragma once

#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>

#include "manifest/OutputManifest.h"
#include "transfer/TransferState.h"

namespace vrexa {

class TransferParams;

// A document for the transfer endpoint: what a transfer downloaded and for
// how long since its previous report, and where it stands now.
class TransferAnalyticsRequest : public OutputManifest {
public:
    TransferAnalyticsRequest(const TransferParams& params, std::string osVersion, TransferState state,
                             std::uint64_t bytesDelta, std::uint64_t durationDeltaMs);

    void Write(boost::property_tree::ptree& tree) override;

    // "suspended", "completed", "canceled", or "active" for every other state.
    static const char* StatusText(TransferState state);

private:
    std::string transferId_;
    std::string partnerId_;
    std::string packageId_;
    std::string versionId_;
    std::string osVersion_;
    TransferState state_;
    std::uint64_t bytesDelta_;
    std::uint64_t durationDeltaMs_;
};

}  // namespace vrexa
