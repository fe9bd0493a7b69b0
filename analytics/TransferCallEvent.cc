#include "analytics/TransferCallEvent.h"

#include <utility>

#include "analytics/EventAnalyticsRequest.h"
#include "analytics/JsonWriter.h"

namespace vrexa {

using boost::property_tree::ptree;

std::string CallResultText(bool value) { return value ? "true" : "false"; }

void AppendCallRecord(ptree& record, const std::string& returned, ptree data) {
    AddJsonValue(record, "returned", returned);
    if (data.empty()) data.put_value(kJsonEmptyObject);
    record.push_back(ptree::value_type("data", std::move(data)));
}

CanTransferToEvent::CanTransferToEvent(const TransferParams& params, const TransferBehavior& behavior, bool returned,
                                       std::string destPath, std::uint64_t allocatedSpace, std::uint64_t availableSpace,
                                       std::uint64_t transferSize)
    : TransferCallEvent<bool>(params, behavior, "CanTransferTo", returned),
      destPath_(std::move(destPath)),
      allocatedSpace_(allocatedSpace),
      availableSpace_(availableSpace),
      transferSize_(transferSize) {}

void CanTransferToEvent::FillData(ptree& data) {
    AddJsonValue(data, "destPath", destPath_);
    AddJsonValue(data, "allocatedSpace", std::to_string(allocatedSpace_));
    AddJsonValue(data, "availableSpace", std::to_string(availableSpace_));
    AddJsonValue(data, "transferSize", std::to_string(transferSize_));
}

IsSupersetEvent::IsSupersetEvent(const TransferParams& params, const TransferBehavior& behavior, bool returned,
                                 std::string destPath, bool ignoreHidden, std::string failure)
    : TransferCallEvent<bool>(params, behavior, "IsSuperset", returned),
      destPath_(std::move(destPath)),
      ignoreHidden_(ignoreHidden),
      failure_(std::move(failure)) {}

void IsSupersetEvent::FillData(ptree& data) {
    AddJsonValue(data, "destPath", destPath_);
    AddJsonValue(data, "ignoreHidden", CallResultText(ignoreHidden_));
    if (!returned_) AddJsonValue(data, "failure", failure_);
}

IsSubsetEvent::IsSubsetEvent(const TransferParams& params, const TransferBehavior& behavior, bool returned,
                             std::string destPath, bool confirmSize, std::string failure,
                             std::optional<std::uint64_t> actualSize)
    : TransferCallEvent<bool>(params, behavior, "IsSubset", returned),
      destPath_(std::move(destPath)),
      confirmSize_(confirmSize),
      failure_(std::move(failure)),
      actualSize_(actualSize) {}

void IsSubsetEvent::FillData(ptree& data) {
    AddJsonValue(data, "destPath", destPath_);
    AddJsonValue(data, "confirmSize", CallResultText(confirmSize_));
    if (returned_) return;
    AddJsonValue(data, "failure", failure_);
    if (actualSize_) AddJsonValue(data, "actualSize", std::to_string(*actualSize_));
}

}  // namespace vrexa
