#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "transfer/TransferStatus.h"

namespace vrexa::cli {

std::string TransferStateName(TransferState state);
std::string TransferErrorName(TransferError error);

// "0 B", "512 B", "1.5 KiB", "23.4 MiB", "1.00 GiB": three significant digits.
std::string FormatBytes(std::uint64_t bytes);
// "--:--" while there is no estimate, else "m:ss" or "h:mm:ss".
std::string FormatSeconds(std::int32_t seconds);
// Whole percent of completed bytes, 0 when the total is not known yet.
unsigned PercentComplete(const TransferStatus& status);

// "[ 42%] 430 MiB / 1.00 GiB  85.2 MiB/s  0:07 left  Transferring"
std::string ProgressLine(const TransferStatus& status);
// One compact JSON object: state, error, retrying, the counters, seconds
// remaining and the transfer id.
std::string JsonStatusLine(const TransferStatus& status);

// "fetched 3.00 MiB, reused 61.0 MiB from old content".
std::string SummaryLine(const TransferStatus& status);

// Prints a transfer's progress the way the output can take it: one line
// redrawn in place on a terminal; plain lines, only when something changed
// and at most one a second, elsewhere; one JSON object per change with --json.
class ProgressPrinter {
public:
    enum class Mode { Terminal, Plain, Json, Quiet };
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    ProgressPrinter(std::ostream& out, Mode mode, Clock clock = &std::chrono::steady_clock::now);

    void Update(const TransferStatus& status);
    // The last state, always shown, and the end of a redrawn line.
    void Finish(const TransferStatus& status);
    // After a download: how much came from the network and how much was
    // taken from old content on this machine (every --json line carries both).
    void Summary(const TransferStatus& status);

private:
    std::ostream& out_;
    Mode mode_;
    Clock clock_;
    std::string last_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastPrint_{};
};

}  // namespace vrexa::cli
