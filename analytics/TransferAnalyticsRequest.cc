#include "analytics/TransferAnalyticsRequest.h"

#include <utility>

#include "analytics/EventAnalyticsRequest.h"
#include "analytics/JsonWriter.h"
#include "transfer/TransferParams.h"

namespace vrexa {

TransferAnalyticsRequest::TransferAnalyticsRequest(const TransferParams& params, std::string osVersion,
                                                   TransferState state, std::uint64_t bytesDelta,
                                                   std::uint64_t durationDeltaMs)
    : transferId_(params.transferId),
      partnerId_(params.partnerId),
      packageId_(params.packageId),
      versionId_(params.versionId),
      osVersion_(std::move(osVersion)),
      state_(state),
      bytesDelta_(bytesDelta),
      durationDeltaMs_(durationDeltaMs) {}

const char* TransferAnalyticsRequest::StatusText(TransferState state) {
    switch (state) {
        case TransferState::Suspended:
            return "suspended";
        case TransferState::Complete:
            return "completed";
        case TransferState::Cancelled:
            return "canceled";
        default:
            return "active";
    }
}

void TransferAnalyticsRequest::Write(boost::property_tree::ptree& tree) {
    AddJsonValue(tree, "pid", partnerId_);
    AddJsonValue(tree, "pkgid", packageId_);
    AddJsonValue(tree, "vid", versionId_);
    AddJsonValue(tree, "tid", transferId_);
    AddJsonValue(tree, "vrexav", kEngineVersion);
    AddJsonValue(tree, "osv", osVersion_);
    AddJsonValue(tree, "status", StatusText(state_));
    AddJsonValue(tree, "transferBytes", std::to_string(bytesDelta_));
    AddJsonValue(tree, "duration", FormatJsonDouble(static_cast<double>(durationDeltaMs_) / 1000.0));
}

}  // namespace vrexa
