#include "workflow/TransferSingleChunkWork.h"

#include <algorithm>

#include <boost/property_tree/ptree.hpp>

#include "manifest/NodeListManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "work/NoOpWork.h"
#include "workflow/ChunkStepWork.h"
#include "workflow/LogRoutes.h"
#include "workflow/OptimizedRequestChunkWork.h"
#include "workflow/ReuseWorks.h"
#include "workflow/TransferSharedMapData.h"

namespace vrexa {
namespace {

unsigned ChunkRetryLimit(TransferWorkInterface& transfer) {
    const auto nodes = transfer.GetNodeList();
    return OptimizedRequestChunkWork::RetryLimit(transfer.GetBehavior().chunkRetryLimit,
                                                 nodes ? nodes->GetNodes().size() : 0);
}

void DescribeChunkWork(boost::property_tree::ptree& tree, const char* name, const TransferWork& work,
                       const TransferSharedMapData& mapData) {
    tree.put("name", name);
    work.DescribeTransfer(tree, true);
    mapData.Describe(tree);
}

}  // namespace

RetryableTransferChunkWork::RetryableTransferChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                       std::shared_ptr<TransferSharedMapData> mapData)
    : TransferWork(transfer), LimitedRetrySequentialWork(ChunkRetryLimit(*transfer)), mapData_(mapData) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
    AddChild(std::make_shared<OptimizedRequestChunkWork>(transfer, mapData));
    AddChild(std::make_shared<VerifyChunkWork>(transfer, mapData));
}

void RetryableTransferChunkWork::Describe(boost::property_tree::ptree& tree) const {
    DescribeChunkWork(tree, "RetryableTransferChunkWork", *this, *mapData_);
}

ConditionalTransferChunkWork::ConditionalTransferChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                           std::shared_ptr<TransferSharedMapData> mapData)
    : TransferWork(transfer), mapData_(mapData) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
    SetCondition(std::make_shared<VerifyChunkWork>(transfer, mapData));
    SetOnSuccess(std::make_shared<NoOpWork>());
    std::shared_ptr<Work> download = std::make_shared<RetryableTransferChunkWork>(transfer, mapData);
    // An update first tries the copy of the chunk the index found in old
    // content; it is read before any window is written, so one lookup here
    // decides for the chunk's whole life.
    if (transfer->GetReusedContent()) {
        download = std::make_shared<ReuseOrDownloadChunkWork>(transfer, mapData, std::move(download));
    }
    SetOnFailure(std::move(download));
}

void ConditionalTransferChunkWork::Describe(boost::property_tree::ptree& tree) const {
    DescribeChunkWork(tree, "ConditionalTransferChunkWork", *this, *mapData_);
}

TransferSingleChunkWork::TransferSingleChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                 std::shared_ptr<TransferSharedFileData> fileData,
                                                 std::uint64_t lowerBound, std::uint64_t upperBound,
                                                 std::uint32_t expectedChecksum,
                                                 std::optional<Sha256Digest> expectedSha256)
    : TransferWork(transfer),
      SequentialWork(4),
      mapData_(std::make_shared<TransferSharedMapData>(std::move(fileData), lowerBound, upperBound, expectedChecksum,
                                                       transfer->GetProgress(), expectedSha256)) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
    AddChild(std::make_shared<CreateChunkMapWork>(transfer, mapData_));
    AddChild(std::make_shared<PrefetchChunkWork>(transfer, mapData_));
    AddChild(std::make_shared<ConditionalTransferChunkWork>(transfer, mapData_));
    AddChild(std::make_shared<ReleaseChunkMapWork>(transfer, mapData_));
}

void TransferSingleChunkWork::Describe(boost::property_tree::ptree& tree) const {
    DescribeChunkWork(tree, "TransferSingleChunkWork", *this, *mapData_);
}

}  // namespace vrexa
