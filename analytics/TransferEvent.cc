#include "analytics/TransferEvent.h"

#include <utility>

#include "analytics/AnalyticsManager.h"
#include "analytics/EventAnalyticsRequest.h"
#include "analytics/JsonWriter.h"
#include "analytics/LogManager.h"
#include "analytics/TrackEventWork.h"
#include "analytics/TransferAnalyticsRequest.h"
#include "analytics/WorkLogManager.h"
#include "manifest/NodeListManifest.h"
#include "manifest/NodeStatistics.h"
#include "work/WorkStatus.h"

namespace vrexa {

using boost::property_tree::ptree;

TransferEvent::TransferEvent(const TransferParams& params, const TransferBehavior& behavior, std::string name)
    : params_(params), behavior_(behavior), name_(std::move(name)) {}

TransferEvent::~TransferEvent() = default;

void TransferLogEvent::Raise() { WriteLog(); }

void TransferLogEvent::FillLog(TrackEventWork& work) {
    ptree& tree = work.GetTree();
    AddJsonValue(tree, "event", name_);
    ptree params;
    params_.Describe(params);
    tree.push_back(ptree::value_type("params", std::move(params)));
}

void TransferLogEvent::WriteLog() {
    if (behavior_.logManager == nullptr) return;
    try {
        std::shared_ptr<TrackEventWork> work = behavior_.logManager->CreateEventWork(static_cast<int>(kLogEventKind));
        FillLog(*work);
        behavior_.logManager->TrackEvent(std::move(work));
    } catch (...) {
        // The log never fails a transfer.
    }
}

TransferAnalyticsEvent::TransferAnalyticsEvent(const TransferParams& params, const TransferBehavior& behavior,
                                               std::string name, TransferEventCapture capture)
    : TransferLogEvent(params, behavior, std::move(name)), capture_(std::move(capture)) {}

void TransferAnalyticsEvent::Raise() {
    WriteLog();
    if (behavior_.eventManager == nullptr) return;
    try {
        SendAnalytics();
    } catch (...) {
        // Analytics never fail a transfer.
    }
}

void TransferAnalyticsEvent::SendRequest(int kind, OutputManifest& request) {
    std::shared_ptr<TrackEventWork> work = behavior_.eventManager->CreateEventWork(kind);
    request.Write(work->GetTree());
    behavior_.eventManager->TrackEvent(std::move(work));
}

void TransferAnalyticsEvent::SendBatch(const std::vector<OutputManifest*>& leading) {
    std::shared_ptr<TrackEventWork> work = behavior_.eventManager->CreateEventWork(kEventAnalyticsKind);
    ptree& tree = work->GetTree();
    auto append = [&tree](OutputManifest& request) {
        ptree element;
        request.Write(element);
        tree.push_back(ptree::value_type("", std::move(element)));
    };
    for (OutputManifest* request : leading)
        append(*request);
    if (capture_.nodeList) {
        for (const auto& node : capture_.nodeList->GetNodes()) {
            OptimizerAnalyticsRequest request(params_, capture_.osVersion,
                                              node->GetStatistics()->GetSnapshot(node->GetHost()));
            append(request);
        }
    }
    // Without elements the document is still an array.
    if (tree.empty()) tree.put_value(kJsonEmptyArray);
    behavior_.eventManager->TrackEvent(std::move(work));
}

void TransferAnalyticsEvent::SendTransferRequest() {
    TransferAnalyticsRequest request(params_, capture_.osVersion, capture_.state, capture_.downloadedDelta,
                                     capture_.activeTimeDelta);
    SendRequest(kTransferAnalyticsKind, request);
}

SimpleTransferEvent::SimpleTransferEvent(const TransferParams& params, const TransferBehavior& behavior,
                                         std::string name, std::string metric, TransferEventCapture capture)
    : TransferAnalyticsEvent(params, behavior, std::move(name), std::move(capture)), metric_(std::move(metric)) {}

void SimpleTransferEvent::SendAnalytics() {
    SimpleEventAnalyticsRequest request(params_, capture_.osVersion, metric_);
    SendRequest(kEventAnalyticsKind, request);
}

void TransferStateEvent::SendAnalytics() {
    SimpleTransferEvent::SendAnalytics();
    SendTransferRequest();
}

void TransferEndEvent::SendAnalytics() {
    SendTransferRequest();
    SimpleEventAnalyticsRequest request(params_, capture_.osVersion, metric_);
    SendBatch({&request});
}

namespace {

// An error whose summary cannot be made is still reported, without it.
std::string SummaryOf(const WorkStatusData* data) {
    if (data == nullptr) return std::string();
    try {
        return data->ToString();
    } catch (...) {
        return std::string();
    }
}

}  // namespace

TransferErrorEvent::TransferErrorEvent(const TransferParams& params, const TransferBehavior& behavior, std::string name,
                                       std::string metric, TransferEventCapture capture, const WorkStatusData* data)
    : TransferAnalyticsEvent(params, behavior, std::move(name), std::move(capture)),
      metric_(std::move(metric)),
      errorText_(SummaryOf(data)) {}

void TransferErrorEvent::SendAnalytics() {
    if (capture_.downloadedDelta != 0 || capture_.activeTimeDelta != 0) SendTransferRequest();
    ErrorAnalyticsRequest request(params_, capture_.osVersion, metric_, errorText_);
    SendBatch({&request});
}

TransferPeriodicEvent::TransferPeriodicEvent(const TransferParams& params, const TransferBehavior& behavior,
                                             TransferEventCapture capture)
    : TransferAnalyticsEvent(params, behavior, "PeriodicUpdate", std::move(capture)) {}

void TransferPeriodicEvent::SendAnalytics() {
    SendTransferRequest();
    SendBatch({});
}

}  // namespace vrexa
