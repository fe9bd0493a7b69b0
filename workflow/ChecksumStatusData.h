#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "manifest/Sha256Digest.h"
#include "transfer/TransferStatusData.h"

namespace vrexa {

class TransferSharedMapData;

// A chunk whose bytes do not carry the checksum or the hash of the file
// manifest.
class ChecksumStatusData : public TransferStatusData {
public:
    ChecksumStatusData(std::string transferId, std::shared_ptr<TransferSharedMapData> mapData,
                       std::uint32_t actualChecksum, std::optional<Sha256Digest> actualSha256 = std::nullopt);

    TransferError ToTransferError() const override { return TransferError::ChecksumMismatch; }
    // "actualChecksum" (hexadecimal) and, where the chunk has a hash,
    // "actualSha256".
    void Describe(boost::property_tree::ptree& tree) const override;
    // "error|6|<transfer id>|<file size>|<lower bound>|<expected>|<actual>",
    // the checksums in hexadecimal.
    std::string ToString() const override;
    // "<file path>: chunk at bytes <lower>-<upper> has checksum <actual>, expected <expected>",
    // or, when the checksum matches but the hash does not,
    // "<file path>: chunk at bytes <lower>-<upper> has SHA-256 <actual>, expected <expected>".
    std::string Explain() const override;
    // The file and the chunk's bytes.
    TransferErrorFacts Facts() const override;

    const std::string transferId;
    const std::shared_ptr<TransferSharedMapData> mapData;
    const std::uint32_t actualChecksum;
    const std::optional<Sha256Digest> actualSha256;
};

}  // namespace vrexa
