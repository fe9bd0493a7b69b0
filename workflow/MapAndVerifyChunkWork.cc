#include "workflow/MapAndVerifyChunkWork.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferWorkInterface.h"
#include "workflow/ChunkStepWork.h"
#include "workflow/LogRoutes.h"
#include "workflow/TransferSharedMapData.h"

namespace vrexa {

MapAndVerifyChunkWork::MapAndVerifyChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                                             std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                                             std::uint64_t upperBound, std::uint32_t expectedChecksum,
                                             std::optional<Sha256Digest> expectedSha256)
    : TransferWork(std::move(transfer)),
      SequentialWork(4),
      mapData_(std::make_shared<TransferSharedMapData>(std::move(fileData), lowerBound, upperBound, expectedChecksum,
                                                       GetTransfer()->GetProgress(), expectedSha256)) {
    AddLogCompleteRoute(*this, GetTransfer()->GetBehavior(), false);
    AddChild(std::make_shared<CreateChunkMapWork>(GetTransfer(), mapData_));
    AddChild(std::make_shared<PrefetchChunkWork>(GetTransfer(), mapData_));
    AddChild(std::make_shared<VerifyChunkWork>(GetTransfer(), mapData_));
    AddChild(std::make_shared<ReleaseChunkMapWork>(GetTransfer(), mapData_));
}

void MapAndVerifyChunkWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "MapAndVerifyChunkWork");
    DescribeTransfer(tree, true);
    mapData_->Describe(tree);
}

}  // namespace vrexa
