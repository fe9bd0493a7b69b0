#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "file/posix/AtomicWrite.h"
#include "file/posix/UniqueDescriptor.h"
#include "tools/publish/Publisher.h"

// The publisher's output folder: its lock, the staging folder inside it and
// the transaction that moves staged entries into place.
namespace vrexa::publish {

// Text of the publisher's messages: a value in quotation marks, a path so,
// the system's words for an error number.
inline std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }
inline std::string Describe(const std::filesystem::path& path) { return Quoted(path.string()); }
inline std::string SystemMessage(int error) { return std::generic_category().message(error); }

// Nothing is moved into place before every staged byte is on the disk, so a
// crash never leaves a published file shorter than its manifest says. One
// sync of the file system costs far less than one per file for packages of
// many small files.
inline void SyncStaged(const std::filesystem::path& staging) {
    file::posix::UniqueDescriptor fd(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0 || ::syncfs(fd.Get()) != 0) {
        throw PublishError("cannot flush " + Describe(staging) + " to the disk: " + SystemMessage(errno));
    }
}

// Moves staged entries into the output folder and, unless committed, puts
// everything back as it was: what existed returns, what was new goes. Each
// step is one rename, so a publisher killed at any moment leaves every entry
// either as it was or as it will be.
class Transaction {
public:
    explicit Transaction(std::filesystem::path backups) : backups_(std::move(backups)) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    ~Transaction() {
        if (!committed_) {
            Rollback();
        }
    }

    void MakeDirectories(const std::filesystem::path& directory) {
        std::vector<std::filesystem::path> missing;
        for (std::filesystem::path at = directory; !at.empty() && !std::filesystem::exists(at); at = at.parent_path()) {
            missing.push_back(at);
            if (at == at.parent_path()) {
                break;
            }
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            std::error_code error;
            if (!std::filesystem::create_directory(*it, error) && error) {
                throw PublishError("cannot create the folder " + Describe(*it) + ": " + error.message());
            }
            steps_.push_back({Step::kCreatedDirectory, *it, {}});
        }
    }

    // Moves `from` onto `to`. A file replaces its predecessor in one step; a
    // folder that is replaced is first moved aside.
    void Move(const std::filesystem::path& from, const std::filesystem::path& to) {
        MakeDirectories(to.parent_path());
        std::error_code error;
        bool exists = std::filesystem::exists(std::filesystem::symlink_status(to, error));
        std::filesystem::path backup;
        if (exists) {
            backup = backups_ / std::to_string(steps_.size());
            if (std::filesystem::is_directory(std::filesystem::symlink_status(to))) {
                std::filesystem::rename(to, backup, error);
            } else {
                std::filesystem::create_hard_link(to, backup, error);
                if (error) {
                    error.clear();
                    std::filesystem::copy_file(to, backup, error);
                }
            }
            if (error) {
                throw PublishError("cannot move " + Describe(to) + " aside: " + error.message());
            }
        }
        std::filesystem::rename(from, to, error);
        if (error) {
            if (exists && std::filesystem::is_directory(std::filesystem::symlink_status(backup))) {
                std::error_code ignored;
                std::filesystem::rename(backup, to, ignored);
            }
            throw PublishError("cannot move " + Describe(to) + " into place: " + error.message());
        }
        file::posix::SyncFolder(to.parent_path().string());
        steps_.push_back({exists ? Step::kReplaced : Step::kAdded, to, backup});
    }

    void Commit() { committed_ = true; }

private:
    struct Step {
        enum Kind { kCreatedDirectory, kAdded, kReplaced } kind;
        std::filesystem::path path;
        std::filesystem::path backup;
    };

    void Rollback() noexcept {
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
            std::error_code error;
            switch (it->kind) {
                case Step::kCreatedDirectory:
                    std::filesystem::remove(it->path, error);  // only when empty again
                    break;
                case Step::kAdded:
                    std::filesystem::remove_all(it->path, error);
                    break;
                case Step::kReplaced:
                    if (std::filesystem::is_directory(std::filesystem::symlink_status(it->backup, error))) {
                        std::filesystem::remove_all(it->path, error);
                    }
                    std::filesystem::rename(it->backup, it->path, error);
                    break;
            }
        }
    }

    std::filesystem::path backups_;
    std::vector<Step> steps_;
    bool committed_ = false;
};

// The temporary folders sit inside the output folder, so that every move out
// of them is a rename within one file system.
inline constexpr std::string_view kStagingPrefix = ".vrexa-publish-";

class StagingFolder {
public:
    explicit StagingFolder(const std::filesystem::path& output) {
        std::string pattern = (output / (std::string(kStagingPrefix) + "XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw PublishError("cannot create a temporary folder in " + Describe(output) + ": " + SystemMessage(errno));
        }
        path_ = pattern;
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Creates the output folder when it is missing (and removes it again unless
// kept), holds the output folder's lock for the whole run, and removes the
// temporary folders of runs that were killed: with the lock held, no other
// run can still be using them.
class OutputFolder {
public:
    explicit OutputFolder(const std::filesystem::path& path) : transaction_(path) {
        std::error_code error;
        auto status = std::filesystem::status(path, error);
        if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
            throw PublishError("the output folder " + Describe(path) + " is not a folder");
        }
        transaction_.MakeDirectories(path);
        // The lock lives on the folder itself: it needs no file of its own in
        // the served tree and ends with the process however that ends.
        lock_.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (lock_.Get() < 0) {
            throw PublishError("cannot open the output folder " + Describe(path) + ": " + SystemMessage(errno));
        }
        while (::flock(lock_.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            const int failure = errno;
            // Whoever holds the lock is using the folder, even if this run made it.
            Keep();
            if (failure == EWOULDBLOCK) {
                throw PublishError("another vrexa-publish is writing to " + Describe(path) +
                                   "; run this one again when it has ended");
            }
            throw PublishError("cannot lock the output folder " + Describe(path) + ": " + SystemMessage(failure));
        }
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.path().filename().string().starts_with(kStagingPrefix) &&
                std::filesystem::is_directory(std::filesystem::symlink_status(entry.path()))) {
                std::filesystem::remove_all(entry.path());
            }
        }
    }
    void Keep() { transaction_.Commit(); }

private:
    Transaction transaction_;
    file::posix::UniqueDescriptor lock_;
};

}  // namespace vrexa::publish
