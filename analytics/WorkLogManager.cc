#include "analytics/WorkLogManager.h"

#include <utility>

#include "analytics/SetUpLogWork.h"
#include "work/AsioWorkManager.h"
#include "work/SimpleWork.h"
#include "work/WorkStatus.h"

namespace vrexa {

namespace {

// A log record that holds its place in the backlog while it exists.
class BackloggedSetUpLogWork : public SetUpLogWork {
public:
    BackloggedSetUpLogWork(LogManager* manager, std::shared_ptr<Work> work, const WorkStatus& status, const char* event,
                           std::uint32_t kind, std::shared_ptr<void> place)
        : SetUpLogWork(manager, std::move(work), status, event, kind), place_(std::move(place)) {}

private:
    const std::shared_ptr<void> place_;
};

}  // namespace

WorkLogManager::WorkLogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem, Clock clock,
                               std::size_t maxBacklog)
    : LogManager(logMask, std::move(logsFolder), filesystem, std::move(clock)),
      completeRoute_([this](std::shared_ptr<Work> work, const WorkStatus& status) {
          OnWorkComplete(false, std::move(work), status);
      }),
      milestoneCompleteRoute_([this](std::shared_ptr<Work> work, const WorkStatus& status) {
          OnWorkComplete(true, std::move(work), status);
      }),
      retryRoute_([this](std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
          OnSimpleWorkRetry(false, std::move(work), status);
      }),
      milestoneRetryRoute_([this](std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
          OnSimpleWorkRetry(true, std::move(work), status);
      }),
      maxBacklog_(maxBacklog == 0 ? 1 : maxBacklog) {}

WorkCompleteCallback& WorkLogManager::GetCompleteCallback(bool milestone) {
    return milestone ? milestoneCompleteRoute_ : completeRoute_;
}

SimpleWorkRetryCallback& WorkLogManager::GetRetryCallback(bool milestone) {
    return milestone ? milestoneRetryRoute_ : retryRoute_;
}

void WorkLogManager::OnWorkComplete(bool milestone, std::shared_ptr<Work> work, const WorkStatus& status) {
    const bool failed = status.result == WorkResult::FatalError || status.result == WorkResult::RetryableError;
    const std::uint32_t category = failed ? kLogErrorKind : kLogCompleteKind;
    Report(std::move(work), status, "OnWorkComplete", milestone ? category | kLogMilestoneKind : category);
}

void WorkLogManager::OnSimpleWorkRetry(bool milestone, std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
    Report(std::move(work), status, "OnSimpleWorkRetry", milestone ? kLogRetryKind | kLogMilestoneKind : kLogRetryKind);
}

void WorkLogManager::Report(std::shared_ptr<Work> work, const WorkStatus& status, const char* event,
                            std::uint32_t kind) {
    if ((GetLogMask() & kind) == 0) return;
    auto setUp =
        std::make_shared<BackloggedSetUpLogWork>(this, std::move(work), status, event, kind, TakeBacklogPlace());
    setUp->Reset();
    GetWorkManager().Post(std::shared_ptr<SimpleWork>(std::move(setUp)));
}

std::shared_ptr<void> WorkLogManager::TakeBacklogPlace() {
    std::shared_ptr<Backlog> backlog = backlog_;
    {
        std::unique_lock lock(backlog->mutex);
        // Bounded: a log pool that has stopped running jobs never frees a
        // place, and a reporter must not hang on it.
        backlog->freed.wait_for(lock, kBacklogWait, [&] { return backlog->pending < maxBacklog_; });
        ++backlog->pending;
    }
    return std::shared_ptr<void>(backlog.get(), [backlog](void*) {
        {
            std::lock_guard lock(backlog->mutex);
            --backlog->pending;
        }
        backlog->freed.notify_one();
    });
}

std::size_t WorkLogManager::GetBacklog() const {
    std::lock_guard lock(backlog_->mutex);
    return backlog_->pending;
}

}  // namespace vrexa
