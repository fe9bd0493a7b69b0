#include "tools/vrexa/StatusFormat.h"

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

std::string ProgressLine(const TransferStatus& status) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "[%3u%%] ", PercentComplete(status));
    std::string line = percent;
    line += FormatBytes(status.completedBytes) + " / " + FormatBytes(status.totalBytes);
    if (status.state == TransferState::Transferring) {
        line += "  " + FormatBytes(status.rate) + "/s  " + FormatSeconds(status.secondsRemaining) + " left";
    }
    line += "  " + TransferStateName(status.state);
    if (status.error != TransferError::None) {
        line += " (" + TransferErrorName(status.error) + (status.retrying ? ", waiting to retry)" : ")");
    }
    return line;
}

namespace {

void JsonString(std::ostringstream& out, const std::string& text) { out << JsonQuoted(text, JsonEscaping::Minimal); }

}  // namespace

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

std::string SummaryLine(const TransferStatus& status) {
    return "fetched " + FormatBytes(status.downloadedBytes) + ", reused " + FormatBytes(status.reusedBytes) +
           " from old content";
}

ProgressPrinter::ProgressPrinter(std::ostream& out, Mode mode, Clock clock)
    : out_(out), mode_(mode), clock_(std::move(clock)) {}

void ProgressPrinter::Update(const TransferStatus& status) {
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
            std::string line = ProgressLine(status);
            if (line == last_) return;
            // Back to the line's start, the new text, and clear what the
            // previous, longer text left behind.
            out_ << '\r' << line << "\x1b[K" << std::flush;
            drawn_ = true;
            last_ = std::move(line);
            return;
        }
        case Mode::Plain: {
            std::string line = ProgressLine(status);
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

void ProgressPrinter::Finish(const TransferStatus& status) {
    switch (mode_) {
        case Mode::Quiet:
            return;
        case Mode::Json:
            Update(status);
            return;
        case Mode::Terminal:
            Update(status);
            if (drawn_) out_ << '\n' << std::flush;
            drawn_ = false;
            return;
        case Mode::Plain: {
            std::string line = ProgressLine(status);
            if (line != last_) out_ << line << '\n' << std::flush;
            last_ = std::move(line);
            return;
        }
    }
}

void ProgressPrinter::Summary(const TransferStatus& status) {
    if (mode_ == Mode::Terminal || mode_ == Mode::Plain) out_ << SummaryLine(status) << '\n' << std::flush;
}

}  // namespace vrexa::cli
