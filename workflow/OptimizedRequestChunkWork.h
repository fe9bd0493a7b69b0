#pragma once

#include <memory>
#include <mutex>

#include "optimizer/OptimizedRequestParams.h"
#include "work/LimitedRetrySimpleWork.h"
#include "work/TransferWork.h"

namespace vrexa {

namespace file {
class MemoryMappedData;
}  // namespace file

namespace http {
class Request;
struct RequestStatus;
}  // namespace http

class TransferSharedMapData;

// One attempt to download one chunk into its window: a node and timeouts
// from the optimizer, one ranged GET (or, when the optimizer asks a slow node
// for a part only, one per part, each from the next node chosen), and each
// outcome fed back to the node's statistics and the optimizer; bytes that do not match the chunk's checksum
// and hash count there as a data mismatch. A retryable failure is retried in place, each
// attempt on a node not yet tried for this chunk while there is one.
class OptimizedRequestChunkWork : public TransferWork, public LimitedRetrySimpleWork {
public:
    OptimizedRequestChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                              std::shared_ptr<TransferSharedMapData> mapData);

    // max(requestRetryLimit, nodes - 1): every node can be tried once.
    static unsigned RetryLimit(int requestRetryLimit, std::size_t nodes);

    // "name", "transferId", then the chunk's keys.
    void Describe(boost::property_tree::ptree& tree) const override;
    // A time-out while the optimizer could still lengthen the timeouts is
    // retried without counting.
    bool ShouldRetry() override;
    WorkStatus ExecuteTask() override;
    // Aborts the request being performed, from any thread.
    void OnCancel() override;

    const OptimizedRequestParams& GetParams() const { return params_; }

private:
    // The status as the node's statistics and the optimizer take it: a
    // successful exchange whose bytes are not the chunk is a data mismatch.
    http::RequestStatus Sample(file::MemoryMappedData& window, const http::RequestStatus& status);
    // One request for the part of the chunk the optimizer sizes, from the
    // first byte not yet received.
    WorkStatus RequestPart(const std::shared_ptr<file::MemoryMappedData>& window, std::size_t partsBefore);

    std::shared_ptr<TransferSharedMapData> mapData_;
    OptimizedRequestParams params_;
    std::mutex mutex_;
    std::shared_ptr<http::Request> request_;
    // Set once a chunk fetched in parts failed its check: from then on every
    // request asks for the whole chunk, so a mismatch names its node.
    bool piecesRefused_ = false;
};

}  // namespace vrexa
