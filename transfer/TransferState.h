#pragma once

#include <cstdint>

namespace vrexa {

// Where a transfer is in its life. The values are stored and reported, so
// they never change.
enum class TransferState : std::uint8_t {
    None = 0,              // no transfer: unknown id or failed creation
    Initializing = 1,      // fetching manifests and geolocation, checking the geofence
    InitializePaused = 2,  // initialization paused by the client
    Initialized = 3,       // manifests known, waiting for a destination
    Transferring = 4,      // downloading and verifying files
    Paused = 5,            // download paused by the client
    Suspended = 6,         // kept for later; no workflow runs
    Complete = 7,          // every byte downloaded and verified
    Cancelled = 8,         // cancelled by the client
};

}  // namespace vrexa
