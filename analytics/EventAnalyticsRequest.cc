#include "analytics/EventAnalyticsRequest.h"

#include <utility>

#include "analytics/JsonWriter.h"
#include "transfer/TransferParams.h"

namespace vrexa {

using boost::property_tree::ptree;

void AddJsonValue(ptree& tree, const std::string& key, const std::string& value) {
    tree.push_back(ptree::value_type(key, ptree(value)));
}

namespace {

// An object that received no keys must still be an object ({}), not "".
void AddObject(ptree& tree, const std::string& key, ptree object) {
    if (object.empty()) object.put_value(kJsonEmptyObject);
    tree.push_back(ptree::value_type(key, std::move(object)));
}

}  // namespace

EventAnalyticsRequest::EventAnalyticsRequest(const TransferParams& params, std::string osVersion)
    : partnerId_(params.partnerId),
      packageId_(params.packageId),
      versionId_(params.versionId),
      osVersion_(std::move(osVersion)) {}

void EventAnalyticsRequest::Write(ptree& tree) {
    AddJsonValue(tree, "pid", partnerId_);
    AddJsonValue(tree, "pkgid", packageId_);
    AddJsonValue(tree, "vid", versionId_);
    AddJsonValue(tree, "vrexav", kEngineVersion);
    AddJsonValue(tree, "osv", osVersion_);
    ptree metrics;
    WriteMetrics(metrics);
    AddObject(tree, "metrics", std::move(metrics));
    ptree dimensions;
    WriteDimensions(dimensions);
    AddObject(tree, "dimensions", std::move(dimensions));
}

SimpleEventAnalyticsRequest::SimpleEventAnalyticsRequest(const TransferParams& params, std::string osVersion,
                                                         std::string metric)
    : EventAnalyticsRequest(params, std::move(osVersion)), metric_(std::move(metric)) {}

void SimpleEventAnalyticsRequest::WriteMetrics(ptree& metrics) { AddJsonValue(metrics, metric_, "1"); }

void SimpleEventAnalyticsRequest::WriteDimensions(ptree&) {}

ErrorAnalyticsRequest::ErrorAnalyticsRequest(const TransferParams& params, std::string osVersion, std::string metric,
                                             std::string error)
    : SimpleEventAnalyticsRequest(params, std::move(osVersion), std::move(metric)), error_(std::move(error)) {}

void ErrorAnalyticsRequest::WriteDimensions(ptree& dimensions) {
    if (!error_.empty()) AddJsonValue(dimensions, "error", error_);
}

OptimizerAnalyticsRequest::OptimizerAnalyticsRequest(const TransferParams& params, std::string osVersion,
                                                     NodeStatisticsSnapshot statistics)
    : EventAnalyticsRequest(params, std::move(osVersion)), statistics_(std::move(statistics)) {}

void OptimizerAnalyticsRequest::WriteMetrics(ptree& metrics) {
    const NodeStatisticsSnapshot& s = statistics_;
    AddJsonValue(metrics, "bytes", std::to_string(s.bytes));
    AddJsonValue(metrics, "successBytes", std::to_string(s.successBytes));
    AddJsonValue(metrics, "firstByteTime", FormatJsonDouble(s.firstByteTime));
    AddJsonValue(metrics, "requestTime", FormatJsonDouble(s.requestTime));
    AddJsonValue(metrics, "successTime", FormatJsonDouble(s.successTime));
    AddJsonValue(metrics, "numRequests", std::to_string(s.numRequests));
    AddJsonValue(metrics, "numErrors", std::to_string(s.numErrors));
    AddJsonValue(metrics, "numConnectFailures", std::to_string(s.numConnectFailures));
    AddJsonValue(metrics, "numHttpServerErrors", std::to_string(s.numHttpServerErrors));
    AddJsonValue(metrics, "numConnectionsReset", std::to_string(s.numConnectionsReset));
    AddJsonValue(metrics, "numDataMismatches", std::to_string(s.numDataMismatches));
    AddJsonValue(metrics, "numRequestTimeouts", std::to_string(s.numRequestTimeouts));
}

void OptimizerAnalyticsRequest::WriteDimensions(ptree& dimensions) {
    AddJsonValue(dimensions, "cdn", statistics_.node);
}

}  // namespace vrexa
