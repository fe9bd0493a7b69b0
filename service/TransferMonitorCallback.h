#pragma once

#include "transfer/TransferStatus.h"

namespace vrexa {

// Told by the monitor, on its thread, how a registered transfer is doing.
class TransferMonitorCallback {
public:
    virtual ~TransferMonitorCallback() = default;
    // Still running, no error; the registration stays.
    virtual void OnProgress(const TransferStatus& status) = 0;
    // Initialized and waiting for Start; the registration has been removed.
    virtual void OnInitialized(const TransferStatus& status) = 0;
    // Waiting for Retry after an error; the registration has been removed.
    virtual void OnError(const TransferStatus& status) = 0;
    // The status is final; the registration has been removed.
    virtual void OnEnd(const TransferStatus& status) = 0;
};

}  // namespace vrexa
