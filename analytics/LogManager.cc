#include "analytics/LogManager.h"

#include <utility>

#include "file/Exception.h"
#include "file/Filesystem.h"
#include "file/SharedFile.h"

namespace vrexa {

namespace {

std::time_t Now() { return std::time(nullptr); }

void WriteAll(file::SharedFile& file, const std::string& text) { file.Write(text.data(), text.size()); }

}  // namespace

LogManager::LogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem, Clock clock)
    : EventManager(kThreads),
      logMask_(logMask),
      logsFolder_(std::move(logsFolder)),
      filesystem_(filesystem),
      clock_(clock ? std::move(clock) : Clock(&Now)) {}

std::string LogManager::FormatUtc(std::time_t time, const char* pattern) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, pattern, &utc);
    return std::string(buffer, length);
}

std::shared_ptr<file::SharedFile> LogManager::OpenLogFile() {
    const std::string base = filesystem_->GetTempFolder();
    for (unsigned n = 0;; ++n) {
        std::string name = FormatUtc(clock_(), "Log.%Y.%m.%d.%H.%M.%S.txt");
        if (n > 0) name += "." + std::to_string(n);
        const std::string relative = file::Filesystem::ToUtf8(boost::filesystem::path(logsFolder_) / name);
        try {
            return filesystem_->OpenSharedFile(base, relative, file::OpenMode::CreateNew, false, 0,
                                               0xFFFFFFFFFFFFFFFFull);
        } catch (const file::InUseException&) {
            // Taken (another manager, or an earlier run in the same second): next.
        }
    }
}

void LogManager::WriteLine(std::uint32_t kind, const std::string& text) {
    std::lock_guard lock(mutex_);
    if ((logMask_ & kind) == 0) return;
    if (!currentFile_) currentFile_ = OpenLogFile();
    const std::string prefix = FormatUtc(clock_(), "[%Y-%m-%d %H:%M:%S] ");
    try {
        WriteAll(*currentFile_, prefix);
    } catch (...) {
    }
    try {
        WriteAll(*currentFile_, text);
    } catch (...) {
    }
}

}  // namespace vrexa
