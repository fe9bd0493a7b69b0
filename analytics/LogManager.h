#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "analytics/EventManager.h"

namespace vrexa {

namespace file {
class Filesystem;
class SharedFile;
}  // namespace file

// Kinds of log records; a record is written when its kind shares a bit with
// the log mask.
inline constexpr std::uint32_t kLogEventKind = 1;         // service start, transfer events
inline constexpr std::uint32_t kLogErrorKind = 2;         // work ended FatalError or RetryableError
inline constexpr std::uint32_t kLogRetryKind = 4;         // simple work runs its task again
inline constexpr std::uint32_t kLogCompleteKind = 8;      // work ended any other way
inline constexpr std::uint32_t kLogMilestoneKind = 0x10;  // added for a milestone route
inline constexpr std::uint32_t kDefaultLogMask = 0xFFFFFFF7u;

// The run's text log: one file per manager, opened with the first record that
// passes the mask and named after that moment ("Log.%Y.%m.%d.%H.%M.%S.txt" in
// UTC under the logs folder of the temporary folder), one record per line.
class LogManager : public EventManager {
public:
    static constexpr unsigned kThreads = 2;
    // Names tried by one OpenLogFile before it gives up.
    static constexpr unsigned kOpenAttempts = 100;

    // Seconds since the epoch; tests pass a fixed clock.
    using Clock = std::function<std::time_t()>;

    // filesystem is not owned and must outlive the manager.
    LogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem, Clock clock = Clock());

    // Writes "[%Y-%m-%d %H:%M:%S] " (UTC) and text as one line, unless kind is
    // masked out. Opens the file first when none is open; if that fails the
    // exception passes out and the next line tries again. A failed or short
    // write is ignored: the line is lost or cut and the next one follows it.
    void WriteLine(std::uint32_t kind, const std::string& text);
    // Creates a new log file named after the current second, with ".1", ".2", ...
    // after the extension while that name is taken (at most kOpenAttempts
    // names). Any other failure, or every name taken, throws the file layer's
    // exception: the record is lost and the next one tries again.
    std::shared_ptr<file::SharedFile> OpenLogFile();

    std::uint32_t GetLogMask() const { return logMask_; }

    // The UTC time formatted with a strftime pattern.
    static std::string FormatUtc(std::time_t time, const char* pattern);

private:
    std::mutex mutex_;  // guards currentFile_ and every write to it
    const std::uint32_t logMask_;
    const std::string logsFolder_;
    file::Filesystem* const filesystem_;
    const Clock clock_;
    std::shared_ptr<file::SharedFile> currentFile_;
};

}  // namespace vrexa
