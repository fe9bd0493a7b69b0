#pragma once

#include <cstdint>

namespace vrexa {

// How the works of a transfer report progress. Called from many work threads
// at once without the transfer's lock, so implementations must be lock-free
// or thread-safe.
class TransferProgressUpdater {
public:
    virtual ~TransferProgressUpdater() = default;
    // Bytes written to the output files.
    virtual void AddCompleted(std::uint64_t bytes) = 0;
    // Takes back bytes counted by AddCompleted beyond a chunk's length, once
    // the chunk has been verified.
    virtual void SubtractCompleted(std::uint64_t bytes) = 0;
    // Bytes of chunks whose checksum matched.
    virtual void AddVerified(std::uint64_t bytes) = 0;
    // Bytes received from the network.
    virtual void AddDownloaded(std::uint64_t bytes) = 0;
    // Bytes of chunks copied from old content on this machine instead of
    // fetched; they count as completed and verified like fetched ones.
    virtual void AddReused(std::uint64_t bytes) { (void)bytes; }
};

}  // namespace vrexa
