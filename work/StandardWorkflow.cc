#include "work/StandardWorkflow.h"

#include <algorithm>

#include "work/SimpleWork.h"
#include "work/Work.h"
#include "work/WorkManager.h"

namespace vrexa {

namespace {

// Heap order: the front is the work with the lexicographically smallest path
// (a proper prefix is smaller).
bool RunsLater(const std::shared_ptr<SimpleWork>& a, const std::shared_ptr<SimpleWork>& b) {
    return a->GetPriorityPath() > b->GetPriorityPath();
}

}  // namespace

// A limit below one would leave every work queued for ever.
StandardWorkflow::StandardWorkflow(std::shared_ptr<Work> root, WorkManager* workManager, int maxRunning)
    : root_(std::move(root)), workManager_(workManager), maxRunning_(std::max(maxRunning, 1)) {}

StandardWorkflow::~StandardWorkflow() = default;

bool StandardWorkflow::IsFinishedLocked() const {
    return state_ == WorkflowState::Finished || state_ == WorkflowState::Cancelled;
}

bool StandardWorkflow::IsSuspendedLocked() const {
    return state_ == WorkflowState::Suspended || state_ == WorkflowState::PausedSuspended;
}

void StandardWorkflow::CancelRunningWorks() {
    for (const std::shared_ptr<SimpleWork>& work : running_) {
        work->Cancel();
    }
}

void StandardWorkflow::Dispatch() {
    if (state_ != WorkflowState::Running) {
        return;
    }
    std::shared_ptr<StandardWorkflow> self;
    while (running_.size() < static_cast<std::size_t>(maxRunning_) && !readyQueue_.empty()) {
        std::pop_heap(readyQueue_.begin(), readyQueue_.end(), RunsLater);
        std::shared_ptr<SimpleWork> work = std::move(readyQueue_.back());
        readyQueue_.pop_back();
        running_.insert(work);
        if (!self) {
            self = shared_from_this();
        }
        workManager_->Post(self, std::move(work));
    }
}

void StandardWorkflow::OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    Lock lock(mutex_);
    if (state_ == WorkflowState::NotStarted || IsFinishedLocked()) {
        return;
    }
    const bool rootFinal =
        work == root_ && (status.result == WorkResult::Success || status.result == WorkResult::Failure);
    if (status.result == WorkResult::FatalError || rootFinal) {
        CancelRunningWorks();
        state_ = WorkflowState::Finished;
        return;
    }
    if (status.result == WorkResult::RetryableError && !status.retry && !IsSuspendedLocked()) {
        CancelRunningWorks();
        state_ = state_ == WorkflowState::Running ? WorkflowState::Suspended : WorkflowState::PausedSuspended;
        // Told without the lock, so that a callback may call back in (Retry,
        // Cancel).
        const std::vector<WorkflowRetryableErrorCallback*> callbacks = retryableErrorCallbacks_;
        const std::shared_ptr<Workflow> self = shared_from_this();
        lock.unlock();
        for (WorkflowRetryableErrorCallback* callback : callbacks) {
            callback->OnWorkflowRetryableError(self, work, status);
        }
    }
}

bool StandardWorkflow::Start() {
    {
        Lock lock(mutex_);
        if (state_ != WorkflowState::NotStarted) {
            return false;
        }
        state_ = WorkflowState::Running;
    }
    // The root is asked without the workflow's lock: composites queue their
    // works under their own locks, and taking those inside this one would
    // invert the order the worker threads use. Nothing runs before the
    // dispatch below, and a Pause or Cancel meanwhile is simply honoured by it.
    try {
        root_->QueueAvailableWork(shared_from_this());
    } catch (...) {
        // A tree that could not queue itself has not started: whatever it
        // queued before failing is dropped, so a later Start begins afresh.
        Lock lock(mutex_);
        readyQueue_.clear();
        if (state_ != WorkflowState::Cancelled) {
            state_ = WorkflowState::NotStarted;
        }
        throw;
    }
    Lock lock(mutex_);
    Dispatch();
    return true;
}

bool StandardWorkflow::PauseLocked() {
    if (state_ == WorkflowState::Running) {
        state_ = WorkflowState::Paused;
    } else if (state_ == WorkflowState::Suspended) {
        state_ = WorkflowState::PausedSuspended;
    } else {
        return false;
    }
    CancelRunningWorks();
    return true;
}

bool StandardWorkflow::Pause() {
    Lock lock(mutex_);
    return PauseLocked();
}

bool StandardWorkflow::Resume() {
    Lock lock(mutex_);
    if (state_ == WorkflowState::Paused) {
        state_ = WorkflowState::Running;
    } else if (state_ == WorkflowState::PausedSuspended) {
        state_ = WorkflowState::Suspended;
    } else {
        return false;
    }
    Dispatch();
    return true;
}

bool StandardWorkflow::Retry() {
    Lock lock(mutex_);
    if (state_ == WorkflowState::Suspended) {
        state_ = WorkflowState::Running;
    } else if (state_ == WorkflowState::PausedSuspended) {
        state_ = WorkflowState::Paused;
    } else {
        return false;
    }
    Dispatch();
    return true;
}

WorkflowState StandardWorkflow::GetState() {
    Lock lock(mutex_);
    return state_;
}

bool StandardWorkflow::IsStarted() {
    Lock lock(mutex_);
    return state_ != WorkflowState::NotStarted;
}

bool StandardWorkflow::IsPaused() {
    Lock lock(mutex_);
    return state_ == WorkflowState::Paused || state_ == WorkflowState::PausedSuspended;
}

bool StandardWorkflow::IsSuspended() {
    Lock lock(mutex_);
    return IsSuspendedLocked();
}

bool StandardWorkflow::IsFinished() {
    Lock lock(mutex_);
    return IsFinishedLocked();
}

bool StandardWorkflow::Cancel(const WorkStatus& status) {
    {
        Lock lock(mutex_);
        if (state_ == WorkflowState::Cancelled) {
            return false;
        }
        PauseLocked();
        state_ = WorkflowState::Cancelled;
    }
    root_->NotifyComplete(status);
    return true;
}

void StandardWorkflow::AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) {
    Lock lock(mutex_);
    if (callback != nullptr) {
        retryableErrorCallbacks_.push_back(callback);
    }
}

void StandardWorkflow::QueueSimpleWork(std::shared_ptr<SimpleWork> work) {
    Lock lock(mutex_);
    if (IsFinishedLocked()) {
        return;
    }
    work->Reset();
    readyQueue_.push_back(std::move(work));
    std::push_heap(readyQueue_.begin(), readyQueue_.end(), RunsLater);
}

void StandardWorkflow::OnSimpleWorkComplete(std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
    Lock lock(mutex_);
    if (const auto entry = running_.find(work); entry != running_.end()) {
        running_.erase(entry);
    }
    if (!IsFinishedLocked() &&
        (status.result == WorkResult::Cancelled || status.result == WorkResult::RetryableError)) {
        work->Reset();
        readyQueue_.push_back(std::move(work));
        std::push_heap(readyQueue_.begin(), readyQueue_.end(), RunsLater);
    }
    Dispatch();
}

}  // namespace vrexa
