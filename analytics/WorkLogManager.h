#pragma once

#include <cstdint>
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
    WorkLogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem, Clock clock = Clock());

    virtual WorkCompleteCallback& GetCompleteCallback(bool milestone);
    virtual SimpleWorkRetryCallback& GetRetryCallback(bool milestone);

    void OnWorkComplete(bool milestone, std::shared_ptr<Work> work, const WorkStatus& status);
    void OnSimpleWorkRetry(bool milestone, std::shared_ptr<SimpleWork> work, const WorkStatus& status);

private:
    // Posts a SetUpLogWork unless the mask filters the record out.
    void Report(std::shared_ptr<Work> work, const WorkStatus& status, const char* event, std::uint32_t kind);

    WorkCompleteCallbackRoute completeRoute_;
    WorkCompleteCallbackRoute milestoneCompleteRoute_;
    SimpleWorkRetryCallbackRoute retryRoute_;
    SimpleWorkRetryCallbackRoute milestoneRetryRoute_;
};

}  // namespace vrexa
