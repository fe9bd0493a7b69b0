#include "analytics/WorkLogManager.h"

#include <utility>

#include "analytics/SetUpLogWork.h"
#include "work/AsioWorkManager.h"
#include "work/SimpleWork.h"
#include "work/WorkStatus.h"

namespace vrexa {

WorkLogManager::WorkLogManager(std::uint32_t logMask, std::string logsFolder, file::Filesystem* filesystem, Clock clock)
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
      }) {}

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
    auto setUp = std::make_shared<SetUpLogWork>(this, std::move(work), status, event, kind);
    setUp->Reset();
    GetWorkManager().Post(std::shared_ptr<SimpleWork>(std::move(setUp)));
}

}  // namespace vrexa
