#pragma once

#include <cstdint>

namespace vrexa {

// The one error vocabulary of the engine and the updater: every failure of a
// transfer ends as one of these, and the updater picks its message by it.
// The values are stored and reported, so they never change.
enum class TransferError : std::uint8_t {
    None = 0,
    RequestRejected = 1,  // the server refused the request or sent the wrong document
    NetworkError = 2,     // resolve, connect, send/receive, time-out, 5xx
    OutOfMemory = 3,
    InsufficientSpace = 4,
    FileAccessError = 5,  // bad path, missing, in use or inaccessible file
    ChecksumMismatch = 6,
    FileWriteError = 7,    // any other file failure
    RequestFailed = 8,     // malformed request or other local HTTP failure
    Unknown = 9,           // unexpected failures and internal inconsistencies
    GeofenceBlocked = 10,  // the client's country may not download the package
};

}  // namespace vrexa
