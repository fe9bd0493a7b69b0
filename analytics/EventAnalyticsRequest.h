#pragma once

#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>

#include "manifest/NodeStatistics.h"
#include "manifest/OutputManifest.h"

namespace vrexa {

class TransferParams;

// The engine version every analytics document and the service's start record
// carry.
inline constexpr const char* kEngineVersion = "1.3.4";

// A document for the events endpoint: who sent it ("pid", "pkgid", "vid",
// "vrexav", "osv"), then "metrics" and "dimensions" objects filled by the
// concrete request. An object left empty is written as {}.
class EventAnalyticsRequest : public OutputManifest {
public:
    EventAnalyticsRequest(const TransferParams& params, std::string osVersion);

    void Write(boost::property_tree::ptree& tree) override;
    virtual void WriteMetrics(boost::property_tree::ptree& metrics) = 0;
    virtual void WriteDimensions(boost::property_tree::ptree& dimensions) = 0;

private:
    std::string partnerId_;
    std::string packageId_;
    std::string versionId_;
    std::string osVersion_;
};

// Counts one occurrence of an event: "metrics" = {metric: "1"}, no dimensions.
class SimpleEventAnalyticsRequest : public EventAnalyticsRequest {
public:
    SimpleEventAnalyticsRequest(const TransferParams& params, std::string osVersion, std::string metric);

    void WriteMetrics(boost::property_tree::ptree& metrics) override;
    void WriteDimensions(boost::property_tree::ptree& dimensions) override;

private:
    std::string metric_;
};

// A counted error with its one-line summary as the "error" dimension (none
// when the summary is empty).
class ErrorAnalyticsRequest : public SimpleEventAnalyticsRequest {
public:
    ErrorAnalyticsRequest(const TransferParams& params, std::string osVersion, std::string metric, std::string error);

    void WriteDimensions(boost::property_tree::ptree& dimensions) override;

private:
    std::string error_;
};

// How one node has served the transfer so far, with the node's host as "cdn".
class OptimizerAnalyticsRequest : public EventAnalyticsRequest {
public:
    OptimizerAnalyticsRequest(const TransferParams& params, std::string osVersion, NodeStatisticsSnapshot statistics);

    void WriteMetrics(boost::property_tree::ptree& metrics) override;
    void WriteDimensions(boost::property_tree::ptree& dimensions) override;

private:
    NodeStatisticsSnapshot statistics_;
};

// Appends key = value to tree as a new child, keeping insertion order and
// taking the key literally (no path splitting at dots).
void AddJsonValue(boost::property_tree::ptree& tree, const std::string& key, const std::string& value);

}  // namespace vrexa
