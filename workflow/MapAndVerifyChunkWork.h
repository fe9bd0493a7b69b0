#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "manifest/Sha256Digest.h"
#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class TransferSharedFileData;
class TransferSharedMapData;

// Checks one chunk of a file on disk: map it (read-only, as its file was
// opened), bring it into memory, compare its CRC-32 (and SHA-256 where it has one), release the view. A
// chunk that differs ends the sequence with Failure and the checksum data.
class MapAndVerifyChunkWork : public TransferWork, public SequentialWork {
public:
    MapAndVerifyChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                          std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                          std::uint64_t upperBound, std::uint32_t expectedChecksum,
                          std::optional<Sha256Digest> expectedSha256 = std::nullopt);

    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<TransferSharedMapData>& GetMapData() const { return mapData_; }

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
};

}  // namespace vrexa
