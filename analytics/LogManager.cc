#include "analytics/LogManager.h"

#include <algorithm>
#include <utility>

#include <boost/filesystem/operations.hpp>

#include "file/Exception.h"
#include "file/Filesystem.h"
#include "file/SharedFile.h"
#include "file/posix/PrivateFolder.h"

namespace vrexa {

namespace {

std::time_t Now() { return std::time(nullptr); }

// Whether something (a file, a folder, a link, dangling or not) has the name.
bool NameTaken(const boost::filesystem::path& path) {
    boost::system::error_code error;
    return boost::filesystem::symlink_status(path, error).type() > boost::filesystem::file_not_found;
}

// A write that fails part way leaves its first bytes in the file while the
// file's position stays where the write began; the position goes to the end
// of what is there, so the next line follows the cut one instead of
// overwriting its start and leaving its tail behind.
void WriteAll(file::SharedFile& file, const std::string& text) {
    try {
        file.Write(text.data(), text.size());
    } catch (...) {
        try {
            file.Seek(std::max(file.GetPosition(), file.GetSize()));
        } catch (...) {
        }
    }
}

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
            auto file =
                filesystem_->OpenSharedFile(base, relative, file::OpenMode::CreateNew, false, 0, 0xFFFFFFFFFFFFFFFFull);
            // The log names nodes, destinations and transfers: its owner's.
            file::posix::MakeFilePrivate(file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(base, relative)));
            return file;
        } catch (const file::InUseException&) {
            // "In use" also comes from the folders on the way (a file or a
            // dangling link where the log folder belongs): only a name that is
            // really taken (another manager, an earlier run in the same second)
            // is worth another try, and only a bounded number of them, since
            // this runs under the log lock.
            if (n + 1 >= kOpenAttempts || !NameTaken(file::Filesystem::ResolvePath(base, relative))) throw;
        }
    }
}

void LogManager::WriteLine(std::uint32_t kind, const std::string& text) {
    std::lock_guard lock(mutex_);
    if ((logMask_ & kind) == 0) return;
    if (!currentFile_) currentFile_ = OpenLogFile();
    const std::string prefix = FormatUtc(clock_(), "[%Y-%m-%d %H:%M:%S] ");
    WriteAll(*currentFile_, prefix);
    WriteAll(*currentFile_, text);
}

}  // namespace vrexa
