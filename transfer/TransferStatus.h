#pragma once

#include <cstdint>
#include <string>

#include "transfer/TransferError.h"
#include "transfer/TransferState.h"

namespace vrexa {

// The facts behind an error, for a program that tells a person what failed
// and where. A field is empty (or 0) when this error has no such fact; the
// status message keeps the summary that logs and analytics read.
struct TransferErrorFacts {
    std::string url;  // the request that failed, credentials masked
    std::int32_t httpStatus = 0;
    std::int32_t curlCode = 0;
    std::string curlError;  // libcurl's own words ("Could not resolve host: h")
    // A manifest or node list refused for its signature; the message says why.
    bool signatureRefused = false;
    // What is wrong with a file of the package on disk.
    // BadPath: leads through a link or out of the destination. Busy: in use
    // by another program. NoAccess: permissions refuse it.
    enum class FileFault { None, Missing, Unreadable, WrongSize, WrongChunk, BadPath, Busy, NoAccess };
    FileFault fileFault = FileFault::None;
    std::string file;                // the package's file, relative to the destination
    std::uint64_t fileSize = 0;      // WrongSize: found on disk
    std::uint64_t expectedSize = 0;  // WrongSize: what the manifest says
    // WrongChunk: the chunk's bytes in the file (last inclusive).
    std::uint64_t chunkFirst = 0;
    std::uint64_t chunkLast = 0;
};

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
    TransferErrorFacts facts;
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
