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
#include "workflow/TransferHttpWriter.h"
#include "workflow/TransferSharedFileData.h"
#include "workflow/TransferSharedMapData.h"
#include "workflow/LogRoutes.h"
#include "workflow/WorkSupport.h"

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
    TransferBehavior& behavior = transfer_->GetBehavior();
    behavior.optimizer->GetNode(params_);
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
    TransferHttpWriter writer(mapData_, window);
    http::RequestParams requestParams(url, &writer);
    requestParams.rangeFirst = mapData_->lowerBound;
    requestParams.rangeLast = mapData_->upperBound;
    requestParams.connectTimeout = params_.connectTimeout;
    requestParams.timeout = params_.timeout;
    requestParams.lowSpeedLimit = params_.lowSpeedLimit;
    requestParams.lowSpeedTime = params_.lowSpeedTime;

    std::shared_ptr<http::Request> request =
        behavior.requestFactory->CreateRequest(requestParams, transfer_->GetSession());
    {
        const std::lock_guard lock(mutex_);
        request_ = request;
    }

    http::RequestStatus status;
    try {
        mapData_->ResetProgress(*window);
        if (mapData_->fileData) {
            mapData_->fileData->MarkChunkWritten(mapData_->lowerBound);
        }
    } catch (...) {
        const std::lock_guard lock(mutex_);
        request_.reset();
        return FileFailureStatus(std::current_exception());
    }
    if (IsCancelled()) {
        request->Abort();
    }
    status = request->Perform();

    auto data = std::make_shared<HttpTransferStatusData>(node->GetHost(), status);
    const WorkResult result = ResultOfState(status.state);
    if (const auto statistics = node->GetStatistics()) {
        statistics->AddSample(status);
    }
    if (result == WorkResult::Success || result == WorkResult::RetryableError) {
        behavior.optimizer->ReportResult(params_, status);
    }
    if (result != WorkResult::Cancelled) {
        params_.RemoveSelectedNode();
    }
    if (status.state == http::State::Timeout && params_.canGrowTimeouts) {
        params_.alwaysRetry = true;
    }
    {
        const std::lock_guard lock(mutex_);
        request_.reset();
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
