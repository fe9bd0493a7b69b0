#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <mutex>
#include <memory>
#include <string>

#include "analytics/LogManager.h"
#include "work/WorkCallbacks.h"

namespace vrexa {

class SimpleWork;
class Work;
class WorkStatus;

// A log manager that works report their outcomes to. A work registers one of
// four routes when it is built: completion or retry, ordinary or milestone. A
// route only tests the mask and posts, so the reporting thread never waits
// for the disk; describing the work happens later on a log thread.
class WorkLogManager : public LogManager {
public:
    // Records posted and not yet built at most; a reporter finding this many
    // waits for one to be built, at most kBacklogWait, then posts anyway. A
    // queued record holds the finished work it describes (and so its files'
    // state): without a bound, a package of a million files kept gigabytes
    // of finished works alive in the log queue while the log threads caught up.
    static constexpr std::size_t kMaxBacklog = 4096;
    static constexpr std::chrono::milliseconds kBacklogWait{1000};

    WorkLogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem, Clock clock = Clock(),
                   std::size_t maxBacklog = kMaxBacklog);

    virtual WorkCompleteCallback& GetCompleteCallback(bool milestone);
    virtual SimpleWorkRetryCallback& GetRetryCallback(bool milestone);

    void OnWorkComplete(bool milestone, std::shared_ptr<Work> work, const WorkStatus& status);
    void OnSimpleWorkRetry(bool milestone, std::shared_ptr<SimpleWork> work, const WorkStatus& status);

    // Records posted and not yet built, for tests.
    std::size_t GetBacklog() const;

private:
    // Shared with every queued record, which gives its place back when it is
    // gone, run or dropped, even after the manager.
    struct Backlog {
        std::mutex mutex;
        std::condition_variable freed;
        std::size_t pending = 0;
    };

    // A place in the backlog, waited for as above; released when the returned
    // pointer's last copy goes.
    std::shared_ptr<void> TakeBacklogPlace();

    // Posts a SetUpLogWork unless the mask filters the record out.
    void Report(std::shared_ptr<Work> work, const WorkStatus& status, const char* event, std::uint32_t kind);

    WorkCompleteCallbackRoute completeRoute_;
    WorkCompleteCallbackRoute milestoneCompleteRoute_;
    SimpleWorkRetryCallbackRoute retryRoute_;
    SimpleWorkRetryCallbackRoute milestoneRetryRoute_;
    const std::size_t maxBacklog_;
    const std::shared_ptr<Backlog> backlog_ = std::make_shared<Backlog>();
};

}  // namespace vrexa
