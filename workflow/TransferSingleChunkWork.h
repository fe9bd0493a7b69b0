#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "manifest/Sha256Digest.h"
#include "work/ConditionalWork.h"
#include "work/LimitedRetrySequentialWork.h"
#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class TransferSharedFileData;
class TransferSharedMapData;

// Downloads the chunk and checks it again; a mismatch starts it over (a new
// node, the chunk rewritten from its first byte) up to
// max(chunkRetryLimit, nodes - 1) times before the error goes up.
class RetryableTransferChunkWork : public TransferWork, public LimitedRetrySequentialWork {
public:
    RetryableTransferChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                               std::shared_ptr<TransferSharedMapData> mapData);
    void Describe(boost::property_tree::ptree& tree) const override;

private:
    std::shared_ptr<TransferSharedMapData> mapData_;
};

// Checks the bytes already in the window; only a mismatch downloads them.
class ConditionalTransferChunkWork : public TransferWork, public ConditionalWork {
public:
    ConditionalTransferChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                                 std::shared_ptr<TransferSharedMapData> mapData);
    void Describe(boost::property_tree::ptree& tree) const override;

private:
    std::shared_ptr<TransferSharedMapData> mapData_;
};

// One chunk of a file: open its window, bring it in, check it and download it
// only when it does not match, then write it back and drop the window.
class TransferSingleChunkWork : public TransferWork, public SequentialWork {
public:
    TransferSingleChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                            std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                            std::uint64_t upperBound, std::uint32_t expectedChecksum,
                            std::optional<Sha256Digest> expectedSha256 = std::nullopt);
    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<TransferSharedMapData>& GetMapData() const { return mapData_; }

private:
    std::shared_ptr<TransferSharedMapData> mapData_;
};

}  // namespace vrexa
