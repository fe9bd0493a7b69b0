#include "workflow/HttpTransferStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/RequestStateError.h"

namespace vrexa {

HttpTransferStatusData::HttpTransferStatusData(std::string hostname, http::RequestStatus status)
    : hostname(std::move(hostname)), status(std::move(status)) {}

TransferError HttpTransferStatusData::ToTransferError() const { return TransferErrorFromState(status.state); }

void HttpTransferStatusData::Describe(boost::property_tree::ptree& tree) const {
    tree.put("httpResult", std::to_string(static_cast<int>(status.state)));
    tree.put("httpResponseCode", std::to_string(status.responseCode));
    tree.put("requestTimeMs", std::to_string(status.totalTimeMs));
    tree.put("resolveTimeMs", std::to_string(status.resolveTimeMs));
    tree.put("connectTimeMs", std::to_string(status.connectTimeMs));
    tree.put("firstByteTimeMs", std::to_string(status.firstByteTimeMs));
    tree.put("bytesWritten", std::to_string(status.bytes));
    tree.put("hostname", hostname);
    tree.put("ip", status.primaryIp);
    tree.put("proxyConfig", status.proxyConfig);
    tree.put("proxyUrl", status.proxyUrl);
    tree.put("errorSummary", status.errorMessage);
    tree.put("errorDetails", status.errorDetail);
}

TransferErrorFacts HttpTransferStatusData::Facts() const { return RequestFacts(status); }

std::string HttpTransferStatusData::ToString() const {
    const TransferError error = ToTransferError();
    if (error == TransferError::None) {
        return std::string();
    }
    std::string text = "error|";
    if (!status.proxyConfig.empty()) {
        text += "proxy|";
    }
    return text + TransferErrorText(error) + "|" + std::to_string(static_cast<int>(status.state)) + "|" +
           status.errorMessage;
}

}  // namespace vrexa
