#include "work/SimpleWork.h"

#include "work/SimpleWorkRetryCallback.h"
#include "work/Workflow.h"

namespace vrexa {

void SimpleWork::Reset() { cancelled_.store(false); }

void SimpleWork::OnSetWorkflow(std::weak_ptr<Workflow>) {}

void SimpleWork::QueueAvailableWork(std::shared_ptr<Workflow> target) { target->QueueSimpleWork(shared_from_this()); }

std::shared_ptr<Work> SimpleWork::GetSharedPtr() { return shared_from_this(); }

std::shared_ptr<const Work> SimpleWork::GetSharedPtr() const { return shared_from_this(); }

void SimpleWork::AddRetryCallback(SimpleWorkRetryCallback* callback) {
    if (callback != nullptr) {
        retryCallbacks_.push_back(callback);
    }
}

void SimpleWork::Cancel() {
    cancelled_.exchange(true);
    OnCancel();
}

WorkStatus SimpleWork::Execute() {
    try {
        while (!cancelled_.load()) {
            WorkStatus status = ExecuteTask();
            status.retry = status.result == WorkResult::RetryableError && ShouldRetry();
            if (!status.retry) {
                return status;
            }
            if (!retryCallbacks_.empty()) {
                const std::shared_ptr<SimpleWork> self = shared_from_this();
                for (SimpleWorkRetryCallback* callback : retryCallbacks_) {
                    callback->OnSimpleWorkRetry(self, status);
                }
            }
        }
        return WorkStatus(WorkResult::Cancelled, nullptr);
    } catch (...) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<WorkExceptionData>(std::current_exception()));
    }
}

}  // namespace vrexa
