#include "workflow/HttpManifestStatusData.h"

#include <string>

#include <boost/property_tree/ptree.hpp>

#include "transfer/RequestStateError.h"

namespace vrexa {

namespace {

std::string StateText(http::State state) { return std::to_string(static_cast<unsigned>(state)); }

}  // namespace

void HttpManifestStatusData::Describe(boost::property_tree::ptree& tree) const {
    tree.put("httpResult", StateText(status_.state));
    tree.put("httpResponseCode", std::to_string(static_cast<std::uint32_t>(status_.responseCode)));
    tree.put("requestTimeMs", std::to_string(status_.totalTimeMs));
    tree.put("ip", status_.primaryIp);
    tree.put("proxyConfig", status_.proxyConfig);
    tree.put("proxyUrl", status_.proxyUrl);
    tree.put("errorSummary", status_.errorMessage);
    tree.put("errorDetails", status_.errorDetail);
}

TransferErrorFacts HttpManifestStatusData::Facts() const { return RequestFacts(status_); }

std::string HttpManifestStatusData::ToString() const {
    if (error_ == TransferError::None) {
        return {};
    }
    std::string text = "error|manifest|";
    if (!status_.proxyConfig.empty()) {
        text += "proxy|";
    }
    return text + TransferErrorText(error_) + "|" + StateText(status_.state) + "|" + status_.errorMessage;
}

}  // namespace vrexa
