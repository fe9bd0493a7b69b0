#pragma once

namespace vrexa::cli {

// Exit codes, as scripts read them; documented in --help and the man page,
// so a value never changes meaning.
enum ExitCode : int {
    kExitComplete = 0,
    kExitFailed = 1,         // any failure not listed below
    kExitUsage = 2,          // the command line cannot be understood
    kExitMismatch = 3,       // verify: the package on disk does not match
    kExitAuthenticity = 4,   // a manifest or node list failed its signature check
    kExitNotFound = 5,       // no such manifest, package, version or partner (HTTP 404, 410)
    kExitNetwork = 6,        // resolve, connect, TLS, time-out, a server failure (HTTP 5xx)
    kExitFileSystem = 7,     // no space, no permission, the destination in use
    kExitHangup = 129,       // SIGHUP; the transfer is kept for resume
    kExitInterrupted = 130,  // SIGINT; the transfer is kept for resume
    kExitTerminated = 143,   // SIGTERM; the transfer is kept for resume
};

}  // namespace vrexa::cli
