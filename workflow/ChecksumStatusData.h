#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transfer/TransferStatusData.h"

namespace vrexa {

class TransferSharedMapData;

// A chunk whose bytes do not carry the checksum of the file manifest.
class ChecksumStatusData : public TransferStatusData {
public:
    ChecksumStatusData(std::string transferId, std::shared_ptr<TransferSharedMapData> mapData,
                       std::uint32_t actualChecksum);

    TransferError ToTransferError() const override { return TransferError::ChecksumMismatch; }
    // "actualChecksum" (hexadecimal).
    void Describe(boost::property_tree::ptree& tree) const override;
    // "error|6|<transfer id>|<file size>|<lower bound>|<expected>|<actual>",
    // the checksums in hexadecimal.
    std::string ToString() const override;
    // "<file path>: chunk at bytes <lower>-<upper> has checksum <actual>, expected <expected>".
    std::string Explain() const override;

    const std::string transferId;
    const std::shared_ptr<TransferSharedMapData> mapData;
    const std::uint32_t actualChecksum;
};

}  // namespace vrexa
