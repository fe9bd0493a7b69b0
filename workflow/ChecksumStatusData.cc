#include "workflow/ChecksumStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "text/HexText.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"

namespace vrexa {

ChecksumStatusData::ChecksumStatusData(std::string transferId, std::shared_ptr<TransferSharedMapData> mapData,
                                       std::uint32_t actualChecksum, std::optional<Sha256Digest> actualSha256)
    : transferId(std::move(transferId)),
      mapData(std::move(mapData)),
      actualChecksum(actualChecksum),
      actualSha256(actualSha256) {}

void ChecksumStatusData::Describe(boost::property_tree::ptree& tree) const {
    tree.put("actualChecksum", HexText(actualChecksum));
    if (actualSha256) {
        tree.put("actualSha256", Sha256Text(*actualSha256));
    }
}

std::string ChecksumStatusData::ToString() const {
    std::string text = "error|" + TransferErrorText(ToTransferError()) + "|" + transferId + "|";
    if (mapData) {
        text += std::to_string(mapData->fileData ? mapData->fileData->fileSize : 0) + "|" +
                std::to_string(mapData->lowerBound) + "|" + HexText(mapData->expectedChecksum) + "|";
    } else {
        text += "0|0|0|";
    }
    return text + HexText(actualChecksum);
}

TransferErrorFacts ChecksumStatusData::Facts() const {
    TransferErrorFacts facts;
    if (!mapData) return facts;
    facts.fileFault = TransferErrorFacts::FileFault::WrongChunk;
    facts.file = mapData->GetFilePath();
    facts.chunkFirst = mapData->lowerBound;
    facts.chunkLast = mapData->upperBound;
    return facts;
}

std::string ChecksumStatusData::Explain() const {
    if (!mapData) return ToString();
    if (actualChecksum == mapData->expectedChecksum && actualSha256 && mapData->expectedSha256) {
        return mapData->GetFilePath() + ": chunk at bytes " + std::to_string(mapData->lowerBound) + "-" +
               std::to_string(mapData->upperBound) + " has SHA-256 " + Sha256Text(*actualSha256) + ", expected " +
               Sha256Text(*mapData->expectedSha256);
    }
    return mapData->GetFilePath() + ": chunk at bytes " + std::to_string(mapData->lowerBound) + "-" +
           std::to_string(mapData->upperBound) + " has checksum " + HexText(actualChecksum) + ", expected " +
           HexText(mapData->expectedChecksum);
}

}  // namespace vrexa
