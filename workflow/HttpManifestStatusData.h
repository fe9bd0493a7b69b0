#pragma once

#include "http/RequestStatus.h"
#include "transfer/TransferStatusData.h"

namespace vrexa {

// A manifest request that failed: the transfer error the fetching work chose
// for it and the request's final status, so that logs show the response code,
// times, proxy and error texts.
class HttpManifestStatusData : public TransferStatusData {
public:
    HttpManifestStatusData(TransferError error, http::RequestStatus status)
        : error_(error), status_(std::move(status)) {}

    TransferError ToTransferError() const override { return error_; }
    // "httpResult", "httpResponseCode", "requestTimeMs", "ip", "proxyConfig",
    // "proxyUrl", "errorSummary", "errorDetails", in this order.
    void Describe(boost::property_tree::ptree& tree) const override;
    // Empty without an error; otherwise "error|manifest|" [+ "proxy|"] +
    // error + "|" + request state + "|" + the error summary.
    std::string ToString() const override;
    // The request's URL, response code and libcurl's result and words.
    TransferErrorFacts Facts() const override;

    const http::RequestStatus& GetRequestStatus() const { return status_; }

private:
    TransferError error_;
    http::RequestStatus status_;
};

}  // namespace vrexa
