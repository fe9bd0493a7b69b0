#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
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

// What the progress line shows beside the status: the speed measured over the
// time that actually passed (none while too little has), and the time left
// at that speed.
struct ProgressExtras {
    std::optional<std::uint64_t> rate;  // bytes per second
    std::int32_t secondsRemaining = -1;
    bool verifying = false;  // "Verifying" rather than "Transferring"
    // false with --retry 0: an error that waits for a retry is not said to.
    bool mayRetry = true;
};

// "[ 42%] 430 MiB / 1.00 GiB  85.2 MiB/s  0:07 left  Transferring", at most
// `width` characters (0: no limit): the speed, then the time left, then the
// state give way first on a narrow terminal.
std::string ProgressLine(const TransferStatus& status, const ProgressExtras& measured = {}, std::size_t width = 0);
// "1.2 s", "42 s", "3:05", "1:02:03".
std::string FormatDuration(std::chrono::milliseconds elapsed);
// One compact JSON object: state, error, retrying, the counters, seconds
// remaining and the transfer id.
std::string JsonStatusLine(const TransferStatus& status);
// The last line of --json: {"exitCode":N,"message":"...","transferId":"..."}
// (message empty on success).
std::string JsonFinalLine(int exitCode, const std::string& message, const std::string& transferId);
// text as a JSON string, quotes included; control characters escaped.
std::string JsonQuoted(const std::string& text);

// What `vrexa help json` prints: the shape of every --json line.
std::string JsonHelpText();

// Prints a transfer's progress the way the output can take it: one line
// redrawn in place on a terminal; plain lines, only when something changed
// and at most one a second, elsewhere; one JSON object per change with --json.
class ProgressPrinter {
public:
    enum class Mode { Terminal, Plain, Json, Quiet };
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The terminal's width now, in columns; 0 when unknown.
    using Width = std::function<std::size_t()>;

    ProgressPrinter(std::ostream& out, Mode mode, Clock clock = &std::chrono::steady_clock::now);

    // A check of what is on disk: "Verifying", and its summary says so.
    void SetVerifying(bool verifying) { verifying_ = verifying; }
    void SetWidth(Width width) { width_ = std::move(width); }
    void SetMayRetry(bool mayRetry) { mayRetry_ = mayRetry; }

    void Update(const TransferStatus& status);
    // The last state, always shown, and the end of a redrawn line. A status
    // without counters (a transfer suspended as the program closes) keeps
    // the last ones seen. A complete transfer is followed by its summary
    // (not with --json, which has its own final object).
    void Finish(const TransferStatus& status);

    // "fetched 2.86 MiB, reused 1.00 MiB in 1.2 s (2.38 MiB/s)" for the
    // transfer seen so far.
    std::string EndSummary(const TransferStatus& status) const;

private:
    struct Sample {
        std::chrono::steady_clock::time_point time;
        std::uint64_t bytes;
    };
    ProgressExtras Measure(const TransferStatus& status);
    std::uint64_t Moved(const TransferStatus& status) const;
    std::string Line(const TransferStatus& status);

    std::ostream& out_;
    Mode mode_;
    Clock clock_;
    Width width_;
    bool verifying_ = false;
    bool mayRetry_ = true;
    std::string last_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastPrint_{};
    const std::chrono::steady_clock::time_point start_;
    std::optional<std::chrono::steady_clock::time_point> firstMoving_;
    std::deque<Sample> samples_;
    TransferStatus lastSeen_;
};

}  // namespace vrexa::cli
