#pragma once

#include <string>

#include "http/RequestStatus.h"
#include "transfer/TransferStatusData.h"

namespace vrexa {

// How one chunk request went: the node asked and the request's final status.
class HttpTransferStatusData : public TransferStatusData {
public:
    HttpTransferStatusData(std::string hostname, http::RequestStatus status);

    // By the request state; success and abort are no error.
    TransferError ToTransferError() const override;
    // "httpResult", "httpResponseCode", "requestTimeMs", "resolveTimeMs",
    // "connectTimeMs", "firstByteTimeMs", "bytesWritten", "hostname", "ip",
    // "proxyConfig", "proxyUrl", "errorSummary", "errorDetails".
    void Describe(boost::property_tree::ptree& tree) const override;
    // Empty without an error; else "error|" ["proxy|"] error "|" state "|"
    // error message.
    std::string ToString() const override;
    // The request's URL, response code and libcurl's result and words.
    TransferErrorFacts Facts() const override;

    const std::string hostname;
    const http::RequestStatus status;
};

}  // namespace vrexa
