#include "workflow/OptimizedRequestChunkWork.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include <boost/property_tree/ptree.hpp>

#include "file/MemoryMappedData.h"
#include "http/Request.h"
#include "http/RequestFactory.h"
#include "manifest/NodeStatistics.h"
#include "optimizer/TransferOptimizer.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/HttpTransferStatusData.h"
#include "workflow/LogRoutes.h"
#include "workflow/TransferHttpWriter.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/TransferWorkStatus.h"

namespace vrexa {
namespace {

std::size_t NodeCount(TransferWorkInterface& transfer) {
    const auto nodes = transfer.GetNodeList();
    return nodes ? nodes->GetNodes().size() : 0;
}

WorkResult ResultOfState(http::State state) {
    using http::State;
    switch (state) {
        case State::Succeeded:
            return WorkResult::Success;
        case State::Aborted:
            return WorkResult::Cancelled;
        case State::InvalidRequest:
        case State::ResolveError:
        case State::ConnectError:
        case State::ClientError:
        case State::ServerError:
        case State::TransmitError:
        case State::RangeError:
        case State::Timeout:
        case State::OtherError:
        case State::SecurityError:
            return WorkResult::RetryableError;
        default:
            return WorkResult::FatalError;
    }
}

}  // namespace

http::RequestStatus OptimizedRequestChunkWork::Sample(file::MemoryMappedData& window,
                                                      const http::RequestStatus& status) {
    http::RequestStatus sample = status;
    if (status.state != http::State::Succeeded) {
        return sample;
    }
    // Bytes that are not the chunk are the node's fault, whatever the HTTP
    // exchange said: the node's statistics and the optimizer hear a data
    // mismatch, so that the optimizer turns away from the node. The chunk's
    // own check follows as a step of its own and fails it; the retry goes to
    // another node, as this one has been taken off the chunk's candidates.
    // The digests were taken as the bytes arrived; reading the window is the
    // fallback for a writer that did not cover the chunk.
    std::optional<ChunkDigests> digests = mapData_->WrittenDigests();
    if (!digests) {
        try {
            digests = mapData_->ReadDigests(window);
        } catch (...) {
            // A window that cannot be read is the file's failure, not the
            // node's; the chunk's check reports it.
            return sample;
        }
    }
    if (!mapData_->Matches(*digests)) {
        sample.state = http::State::RangeError;
        sample.errorMessage = digests->checksum != mapData_->expectedChecksum ? "the chunk's CRC-32 does not match"
                                                                              : "the chunk's SHA-256 does not match";
    }
    return sample;
}

unsigned OptimizedRequestChunkWork::RetryLimit(int requestRetryLimit, std::size_t nodes) {
    const std::size_t others = nodes > 0 ? nodes - 1 : 0;
    const std::size_t setting = requestRetryLimit > 0 ? static_cast<std::size_t>(requestRetryLimit) : 0;
    return static_cast<unsigned>(std::min<std::size_t>(std::max(setting, others), 0xFFFFFFFFu));
}

OptimizedRequestChunkWork::OptimizedRequestChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                                                     std::shared_ptr<TransferSharedMapData> mapData)
    : TransferWork(transfer),
      LimitedRetrySimpleWork(RetryLimit(transfer->GetBehavior().requestRetryLimit, NodeCount(*transfer))),
      mapData_(mapData),
      params_(transfer->GetNodeList(), transfer->GetParams(), mapData) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
    AddLogRetryRoute(*this, transfer->GetBehavior(), false);
}

void OptimizedRequestChunkWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "OptimizedRequestChunkWork");
    DescribeTransfer(tree, true);
    mapData_->Describe(tree);
}

bool OptimizedRequestChunkWork::ShouldRetry() {
    if (params_.alwaysRetry) {
        return true;
    }
    return LimitedRetrySimpleWork::ShouldRetry();
}

WorkStatus OptimizedRequestChunkWork::ExecuteTask() {
    // The attempt's own reference: a teardown may drop the chunk's window
    // while the request still writes into it.
    const std::shared_ptr<file::MemoryMappedData> window = mapData_->GetWindow();
    if (!window) {
        return TransferErrorStatus(WorkResult::FatalError, TransferError::Unknown,
                                   "OptimizedRequestChunkWork::ExecuteTask has no shared map");
    }
    try {
        mapData_->ResetProgress(*window);
        if (mapData_->fileData) {
            mapData_->fileData->MarkChunkWritten(mapData_->lowerBound);
        }
    } catch (...) {
        return FileFailureStatus(std::current_exception());
    }
    // Every attempt fetches the chunk from its first byte: the bytes of a
    // failed request are not trusted. Within an attempt, a slow node may be
    // asked for a part only; the rest follows from the next node chosen, each
    // part written after the one before, so the chunk's digests still cover
    // it whole.
    params_.received = 0;
    std::size_t parts = 0;
    while (true) {
        const WorkStatus status = RequestPart(window, parts);
        ++parts;
        if (status.result != WorkResult::Success || params_.Remaining() == 0) {
            return status;
        }
    }
}

WorkStatus OptimizedRequestChunkWork::RequestPart(const std::shared_ptr<file::MemoryMappedData>& window,
                                                  std::size_t partsBefore) {
    TransferBehavior& behavior = transfer_->GetBehavior();
    behavior.optimizer->GetNode(params_);
    if (piecesRefused_) {
        params_.requestLength = params_.Remaining();
    }
    const std::shared_ptr<NodeManifest> node = params_.SelectedNode;

    // The readers refuse every node, id and path the URL cannot be built
    // from; should one still get here, it ends this chunk with a typed error
    // rather than escaping the work as an untyped one.
    std::string url;
    try {
        url = params_.ToUrl();
    } catch (const std::invalid_argument& refused) {
        return TransferErrorStatus(WorkResult::FatalError, TransferError::RequestRejected, refused.what());
    }
    const std::uint64_t first = mapData_->lowerBound + params_.received;
    const std::uint64_t length = std::clamp<std::uint64_t>(params_.requestLength, 1, params_.Remaining());
    TransferHttpWriter writer(mapData_, window);
    http::RequestParams requestParams(url, &writer);
    requestParams.rangeFirst = first;
    requestParams.rangeLast = first + length - 1;
    requestParams.connectTimeout = params_.connectTimeout;
    requestParams.timeout = params_.timeout;
    requestParams.lowSpeedLimit = params_.lowSpeedLimit;
    requestParams.lowSpeedTime = params_.lowSpeedTime;
    requestParams.rateLimiter = behavior.rateLimiter;

    std::shared_ptr<http::Request> request =
        behavior.requestFactory->CreateRequest(requestParams, transfer_->GetSession());
    {
        const std::lock_guard lock(mutex_);
        request_ = request;
    }
    if (IsCancelled()) {
        request->Abort();
    }
    const http::RequestStatus status = request->Perform();
    {
        const std::lock_guard lock(mutex_);
        request_.reset();
    }

    auto data = std::make_shared<HttpTransferStatusData>(node->GetHost(), status);
    const WorkResult result = ResultOfState(status.state);
    const bool last = result != WorkResult::Success || length == params_.Remaining();
    // Only the part that completes the chunk can be checked against its
    // digests; a mismatch then cannot tell which node of the attempt sent
    // the wrong bytes, so the attempts after it ask for whole chunks.
    const http::RequestStatus sample = last ? Sample(*window, status) : status;
    if (sample.state == http::State::RangeError && status.state == http::State::Succeeded && partsBefore > 0) {
        piecesRefused_ = true;
    }
    if (const auto statistics = node->GetStatistics()) {
        statistics->AddSample(sample);
    }
    if (result == WorkResult::Success || result == WorkResult::RetryableError) {
        behavior.optimizer->ReportResult(params_, sample);
    } else {
        behavior.optimizer->ReleaseNode(params_);
    }
    if (result == WorkResult::Success) {
        params_.received += length;
    }
    if (!last) {
        // The node sent its part: it stays a candidate for the rest.
        return WorkStatus(result, data);
    }
    if (result != WorkResult::Cancelled) {
        params_.RemoveSelectedNode();
    }
    if (status.state == http::State::Timeout && params_.canGrowTimeouts) {
        params_.alwaysRetry = true;
    }
    return WorkStatus(result, data);
}

void OptimizedRequestChunkWork::OnCancel() {
    std::shared_ptr<http::Request> request;
    {
        const std::lock_guard lock(mutex_);
        request = request_;
    }
    if (request) {
        request->Abort();
    }
}

}  // namespace vrexa
