#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "transfer/TransferBehavior.h"
#include "transfer/TransferParams.h"
#include "transfer/TransferStatusImpl.h"

namespace vrexa {

namespace http {
class Session;
}  // namespace http

// Everything one run of a transfer knows, shared by the transfer and the work
// interface its works hold. Suspend replaces the whole object, so counters,
// manifests and the session of a suspended transfer start again from scratch.
//
// The transfer's lock serializes every change of state and record. What works
// read from their own threads without it sits behind smaller locks: the params
// and the acquired manifests behind the work interface's data lock (the
// transfer writes them through ChangeParams and the Store operations), the
// session behind sessionMutex.
class StandardTransferData {
public:
    StandardTransferData(const TransferParams& params, const TransferBehavior& behavior);
    StandardTransferData(const StandardTransferData&) = delete;
    StandardTransferData& operator=(const StandardTransferData&) = delete;

    TransferParams params;
    const TransferBehavior behavior;
    TransferStatusImpl status;

    std::mutex sessionMutex;
    std::shared_ptr<http::Session> session;

    // Under the transfer's lock only.
    bool removeRequested = false;
    std::unordered_set<std::string> outputFiles{11};
    // Active time (milliseconds) when the last periodic event was raised.
    std::uint64_t periodicMark = 0;

    std::shared_ptr<http::Session> GetSession();
    void SetSession(std::shared_ptr<http::Session> replacement);
};

}  // namespace vrexa
