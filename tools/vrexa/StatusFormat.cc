#include "tools/vrexa/StatusFormat.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "text/JsonEscape.h"

namespace vrexa::cli {

std::string TransferStateName(TransferState state) {
    switch (state) {
        case TransferState::None:
            return "None";
        case TransferState::Initializing:
            return "Initializing";
        case TransferState::InitializePaused:
            return "InitializePaused";
        case TransferState::Initialized:
            return "Initialized";
        case TransferState::Transferring:
            return "Transferring";
        case TransferState::Paused:
            return "Paused";
        case TransferState::Suspended:
            return "Suspended";
        case TransferState::Complete:
            return "Complete";
        case TransferState::Cancelled:
            return "Cancelled";
    }
    return "State" + std::to_string(static_cast<int>(state));
}

std::string TransferErrorName(TransferError error) {
    switch (error) {
        case TransferError::None:
            return "None";
        case TransferError::RequestRejected:
            return "RequestRejected";
        case TransferError::NetworkError:
            return "NetworkError";
        case TransferError::OutOfMemory:
            return "OutOfMemory";
        case TransferError::InsufficientSpace:
            return "InsufficientSpace";
        case TransferError::FileAccessError:
            return "FileAccessError";
        case TransferError::ChecksumMismatch:
            return "ChecksumMismatch";
        case TransferError::FileWriteError:
            return "FileWriteError";
        case TransferError::RequestFailed:
            return "RequestFailed";
        case TransferError::Unknown:
            return "Unknown";
        case TransferError::GeofenceBlocked:
            return "GeofenceBlocked";
    }
    return "Error" + std::to_string(static_cast<int>(error));
}

std::string FormatBytes(std::uint64_t bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 6) {
        value /= 1024.0;
        ++unit;
    }
    // Rounding may carry into the next unit ("1024 KiB" reads as "1.00 MiB").
    if (value >= 999.5 && unit < 6) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    const char* format = value < 9.995 ? "%.2f %s" : value < 99.95 ? "%.1f %s" : "%.0f %s";
    std::snprintf(text, sizeof text, format, value, units[unit]);
    return text;
}

std::string FormatSeconds(std::int32_t seconds) {
    if (seconds < 0) return "--:--";
    const std::int32_t hours = seconds / 3600;
    const std::int32_t minutes = seconds / 60 % 60;
    const std::int32_t rest = seconds % 60;
    char text[32];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%d:%02d:%02d", hours, minutes, rest);
    } else {
        std::snprintf(text, sizeof text, "%d:%02d", minutes, rest);
    }
    return text;
}

unsigned PercentComplete(const TransferStatus& status) {
    if (status.totalBytes == 0) return 0;
    const std::uint64_t done = status.completedBytes < status.totalBytes ? status.completedBytes : status.totalBytes;
    // Counted in 128 bits: 100 × a byte count near 2^64 would wrap.
    return static_cast<unsigned>(static_cast<unsigned __int128>(done) * 100 / status.totalBytes);
}

std::string FormatDuration(std::chrono::milliseconds elapsed) {
    const auto ms = elapsed.count() < 0 ? 0 : elapsed.count();
    char text[32];
    if (ms < 10000) {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
        return text;
    }
    if (ms < 60000) return std::to_string(ms / 1000) + " s";
    return FormatSeconds(static_cast<std::int32_t>(std::min<long long>(ms / 1000, 0x7FFFFFFF)));
}

std::string ProgressLine(const TransferStatus& status, const ProgressExtras& measured, std::size_t width) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "[%3u%%] ", PercentComplete(status));
    const std::string head = percent + FormatBytes(status.completedBytes) + " / " + FormatBytes(status.totalBytes);
    std::string speed;
    std::string left;
    if (status.state == TransferState::Transferring && status.error == TransferError::None) {
        if (measured.rate) speed = "  " + FormatBytes(*measured.rate) + "/s";
        if (measured.secondsRemaining >= 0) left = "  " + FormatSeconds(measured.secondsRemaining) + " left";
    }
    std::string state =
        "  " + (measured.verifying && status.state == TransferState::Transferring ? std::string("Verifying")
                                                                                  : TransferStateName(status.state));
    if (status.error != TransferError::None) {
        if (status.retrying && !measured.mayRetry) {
            state += " (" + TransferErrorName(status.error) + ")";
        } else {
            state += " (" + TransferErrorName(status.error) + (status.retrying ? ", waiting to retry)" : ")");
        }
    }
    // What matters least gives way first.
    for (std::string* optional : {&speed, &left, &state}) {
        if (width == 0 || head.size() + speed.size() + left.size() + state.size() <= width) break;
        optional->clear();
    }
    std::string line = head + speed + left + state;
    if (width != 0 && line.size() > width) line.resize(width);
    return line;
}

namespace {

void JsonString(std::ostringstream& out, const std::string& text) { out << JsonQuoted(text, JsonEscaping::Minimal); }

}  // namespace

std::string JsonQuoted(const std::string& text) {
    std::ostringstream out;
    JsonString(out, text);
    return out.str();
}

std::string JsonFinalLine(int exitCode, const std::string& message, const std::string& transferId) {
    return "{\"exitCode\":" + std::to_string(exitCode) + ",\"message\":" + JsonQuoted(message) +
           ",\"transferId\":" + JsonQuoted(transferId) + "}";
}

std::string JsonHelpText() {
    return "With --json, vrexa writes one JSON object per line on stdout; errors and\n"
           "notes still go to stderr.\n"
           "\n"
           "download, verify, resume: one status object each time the transfer changes,\n"
           "  {\"transferId\": string, \"state\": string, \"error\": string,\n"
           "   \"retrying\": bool, \"downloadedBytes\": number, \"completedBytes\": number,\n"
           "   \"verifiedBytes\": number, \"totalBytes\": number, \"rate\": number,\n"
           "   \"secondsRemaining\": number}\n"
           "  state: Initializing, InitializePaused, Initialized, Transferring, Paused,\n"
           "  Suspended, Complete, Cancelled. error: None, RequestRejected, NetworkError,\n"
           "  OutOfMemory, InsufficientSpace, FileAccessError, ChecksumMismatch,\n"
           "  FileWriteError, RequestFailed, Unknown, GeofenceBlocked. rate: bytes per\n"
           "  second as the engine measures it; secondsRemaining: -1 while unknown.\n"
           "  Then, last, one final object:\n"
           "  {\"exitCode\": number, \"message\": string, \"transferId\": string}\n"
           "  exitCode as the program exits with (see vrexa --help); message: the sentence\n"
           "  printed on stderr for a failure, empty on success.\n"
           "\n"
           "list: one object per stored transfer,\n"
           "  {\"transferId\": string, \"partnerId\": string, \"packageId\": string,\n"
           "   \"versionId\": string, \"dest\": string, \"running\": bool}\n"
           "  running: a transfer writing into its destination now.\n";
}

std::string JsonStatusLine(const TransferStatus& status) {
    std::ostringstream out;
    out << "{\"transferId\":";
    JsonString(out, status.transferId);
    out << ",\"state\":";
    JsonString(out, TransferStateName(status.state));
    out << ",\"error\":";
    JsonString(out, TransferErrorName(status.error));
    out << ",\"retrying\":" << (status.retrying ? "true" : "false") << ",\"downloadedBytes\":" << status.downloadedBytes
        << ",\"reusedBytes\":" << status.reusedBytes << ",\"completedBytes\":" << status.completedBytes
        << ",\"verifiedBytes\":" << status.verifiedBytes << ",\"totalBytes\":" << status.totalBytes
        << ",\"rate\":" << status.rate << ",\"secondsRemaining\":" << status.secondsRemaining << "}";
    return out.str();
}

ProgressPrinter::ProgressPrinter(std::ostream& out, Mode mode, Clock clock)
    : out_(out), mode_(mode), clock_(std::move(clock)), start_(clock_()) {}

std::uint64_t ProgressPrinter::Moved(const TransferStatus& status) const {
    return verifying_ ? status.verifiedBytes : status.downloadedBytes;
}

// The speed over the last few seconds that actually passed; a window shorter
// than half a second says too little to show.
ProgressExtras ProgressPrinter::Measure(const TransferStatus& status) {
    constexpr auto kWindow = std::chrono::seconds(5);
    constexpr auto kShortest = std::chrono::milliseconds(500);
    ProgressExtras extras;
    extras.verifying = verifying_;
    extras.mayRetry = mayRetry_;
    const auto now = clock_();
    if (status.state != TransferState::Transferring || status.error != TransferError::None) {
        samples_.clear();
        return extras;
    }
    if (!firstMoving_) firstMoving_ = now;
    samples_.push_back({now, Moved(status)});
    while (samples_.size() > 2 && now - samples_[1].time >= kWindow)
        samples_.pop_front();
    const Sample& oldest = samples_.front();
    const auto span = now - oldest.time;
    if (span < kShortest) return extras;
    const std::uint64_t bytes = samples_.back().bytes > oldest.bytes ? samples_.back().bytes - oldest.bytes : 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(span).count();
    const std::uint64_t rate =
        static_cast<std::uint64_t>(static_cast<double>(bytes) * 1000.0 / static_cast<double>(ms));
    extras.rate = rate;
    const std::uint64_t done = verifying_ ? status.verifiedBytes : status.completedBytes;
    const std::uint64_t remaining = done < status.totalBytes ? status.totalBytes - done : 0;
    if (rate > 0) {
        const std::uint64_t seconds = (remaining + rate - 1) / rate;
        extras.secondsRemaining = seconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(seconds);
    }
    return extras;
}

std::string ProgressPrinter::Line(const TransferStatus& status) {
    const std::size_t columns = mode_ == Mode::Terminal && width_ ? width_() : 0;
    // One column short: a line that fills the last column wraps on some
    // terminals, and the redraw would then start one line too low.
    return ProgressLine(status, Measure(status), columns > 1 ? columns - 1 : 0);
}

std::string ProgressPrinter::EndSummary(const TransferStatus& status) const {
    const auto now = clock_();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_);
    const auto moving = std::chrono::duration_cast<std::chrono::milliseconds>(now - firstMoving_.value_or(now));
    const std::uint64_t moved = Moved(status);
    std::string text;
    if (verifying_) {
        text = "checked " + FormatBytes(moved);
    } else {
        const std::uint64_t reused = status.completedBytes > moved ? status.completedBytes - moved : 0;
        text = "fetched " + FormatBytes(moved) + ", reused " + FormatBytes(reused);
        if (status.reusedBytes > 0) text += " (" + FormatBytes(status.reusedBytes) + " from old content)";
    }
    text += " in " + FormatDuration(elapsed);
    if (moving.count() > 0 && moved > 0) {
        text += " (" +
                FormatBytes(static_cast<std::uint64_t>(static_cast<double>(moved) * 1000.0 /
                                                       static_cast<double>(moving.count()))) +
                "/s)";
    }
    return text;
}

void ProgressPrinter::Update(const TransferStatus& status) {
    if (status.totalBytes != 0) lastSeen_ = status;
    switch (mode_) {
        case Mode::Quiet:
            return;
        case Mode::Json: {
            std::string line = JsonStatusLine(status);
            if (line == last_) return;
            out_ << line << '\n' << std::flush;
            last_ = std::move(line);
            return;
        }
        case Mode::Terminal: {
            std::string line = Line(status);
            if (line == last_) return;
            // Back to the line's start, the new text, and clear what the
            // previous, longer text left behind.
            out_ << '\r' << line << "\x1b[K" << std::flush;
            drawn_ = true;
            last_ = std::move(line);
            return;
        }
        case Mode::Plain: {
            std::string line = Line(status);
            const auto now = clock_();
            if (line == last_) return;
            if (!last_.empty() && now - lastPrint_ < std::chrono::seconds(1)) return;
            out_ << line << '\n' << std::flush;
            last_ = std::move(line);
            lastPrint_ = now;
            return;
        }
    }
}

void ProgressPrinter::Finish(const TransferStatus& given) {
    TransferStatus status = given;
    if (status.totalBytes == 0 && lastSeen_.totalBytes != 0) {
        status.downloadedBytes = lastSeen_.downloadedBytes;
        status.completedBytes = lastSeen_.completedBytes;
        status.verifiedBytes = lastSeen_.verifiedBytes;
        status.totalBytes = lastSeen_.totalBytes;
    }
    switch (mode_) {
        case Mode::Quiet:
            return;
        case Mode::Json:
            Update(status);
            return;
        case Mode::Terminal:
            Update(status);
            if (drawn_) out_ << '\n';
            drawn_ = false;
            break;
        case Mode::Plain: {
            std::string line = Line(status);
            if (line != last_) out_ << line << '\n';
            last_ = std::move(line);
            break;
        }
    }
    if (status.state == TransferState::Complete) out_ << EndSummary(status) << '\n';
    out_ << std::flush;
}

}  // namespace vrexa::cli
