#pragma once

#include <cstdint>
#include <string>

#include "transfer/TransferError.h"
#include "transfer/TransferState.h"

namespace vrexa {

// A snapshot of one transfer, returned by every transfer operation.
struct TransferStatus {
    std::string transferId;
    std::string partnerId;
    std::string packageId;
    std::string versionId;
    std::string destPath;
    TransferState state = TransferState::None;
    TransferError error = TransferError::None;
    // The error is retryable and the workflow waits for Retry.
    bool retrying = false;
    // What went wrong, in words, while there is an error: the fixed message
    // of an inconsistency or the failing work's own account.
    std::string message;
    // The file to start once the download is done; set only when Complete.
    std::string run;
    std::uint64_t downloadedBytes = 0;
    // Of the completed bytes, those copied from old content on this machine
    // instead of fetched from the network.
    std::uint64_t reusedBytes = 0;
    std::uint64_t completedBytes = 0;
    std::uint64_t verifiedBytes = 0;
    std::uint64_t totalBytes = 0;
    // Bytes per second.
    std::uint64_t rate = 0;
    // -1 while no estimate exists.
    std::int32_t secondsRemaining = -1;

    // A final status will not change without a client operation: the transfer
    // is gone, kept for later, done or cancelled, or it stopped on an error it
    // does not wait to retry.
    bool IsFinal() const;
};

}  // namespace vrexa
