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
    : root(std::move(root)), workManager(workManager), maxRunning(std::max(maxRunning, 1)) {}

StandardWorkflow::~StandardWorkflow() = default;

bool StandardWorkflow::IsFinishedLocked() const {
    return state == WorkflowState::Finished || state == WorkflowState::Cancelled;
}

bool StandardWorkflow::IsSuspendedLocked() const {
    return state == WorkflowState::Suspended || state == WorkflowState::PausedSuspended;
}

void StandardWorkflow::CancelRunningWorks() {
    for (const std::shared_ptr<SimpleWork>& work : running) {
        work->Cancel();
    }
}

void StandardWorkflow::Dispatch() {
    if (state != WorkflowState::Running) {
        return;
    }
    std::shared_ptr<StandardWorkflow> self;
    while (running.size() < static_cast<std::size_t>(maxRunning) && !readyQueue.empty()) {
        std::pop_heap(readyQueue.begin(), readyQueue.end(), RunsLater);
        std::shared_ptr<SimpleWork> work = std::move(readyQueue.back());
        readyQueue.pop_back();
        running.insert(work);
        if (!self) {
            self = shared_from_this();
        }
        workManager->Post(self, std::move(work));
    }
}

void StandardWorkflow::OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    Lock lock(mutex);
    if (state == WorkflowState::NotStarted || IsFinishedLocked()) {
        return;
    }
    const bool rootFinal =
        work == root && (status.result == WorkResult::Success || status.result == WorkResult::Failure);
    if (status.result == WorkResult::FatalError || rootFinal) {
        CancelRunningWorks();
        state = WorkflowState::Finished;
        return;
    }
    if (status.result == WorkResult::RetryableError && !status.retry && !IsSuspendedLocked()) {
        CancelRunningWorks();
        state = state == WorkflowState::Running ? WorkflowState::Suspended : WorkflowState::PausedSuspended;
        // Told without the lock, so that a callback may call back in (Retry,
        // Cancel).
        const std::vector<WorkflowRetryableErrorCallback*> callbacks = retryableErrorCallbacks;
        const std::shared_ptr<Workflow> self = shared_from_this();
        lock.unlock();
        for (WorkflowRetryableErrorCallback* callback : callbacks) {
            callback->OnWorkflowRetryableError(self, work, status);
        }
    }
}

bool StandardWorkflow::Start() {
    {
        Lock lock(mutex);
        if (state != WorkflowState::NotStarted) {
            return false;
        }
        state = WorkflowState::Running;
    }
    // The root is asked without the workflow's lock: composites queue their
    // works under their own locks, and taking those inside this one would
    // invert the order the worker threads use. Nothing runs before the
    // dispatch below, and a Pause or Cancel meanwhile is simply honoured by it.
    try {
        root->QueueAvailableWork(shared_from_this());
    } catch (...) {
        // A tree that could not queue itself has not started: whatever it
        // queued before failing is dropped, so a later Start begins afresh.
        Lock lock(mutex);
        readyQueue.clear();
        if (state != WorkflowState::Cancelled) {
            state = WorkflowState::NotStarted;
        }
        throw;
    }
    Lock lock(mutex);
    Dispatch();
    return true;
}

bool StandardWorkflow::PauseLocked() {
    if (state == WorkflowState::Running) {
        state = WorkflowState::Paused;
    } else if (state == WorkflowState::Suspended) {
        state = WorkflowState::PausedSuspended;
    } else {
        return false;
    }
    CancelRunningWorks();
    return true;
}

bool StandardWorkflow::Pause() {
    Lock lock(mutex);
    return PauseLocked();
}

bool StandardWorkflow::Resume() {
    Lock lock(mutex);
    if (state == WorkflowState::Paused) {
        state = WorkflowState::Running;
    } else if (state == WorkflowState::PausedSuspended) {
        state = WorkflowState::Suspended;
    } else {
        return false;
    }
    Dispatch();
    return true;
}

bool StandardWorkflow::Retry() {
    Lock lock(mutex);
    if (state == WorkflowState::Suspended) {
        state = WorkflowState::Running;
    } else if (state == WorkflowState::PausedSuspended) {
        state = WorkflowState::Paused;
    } else {
        return false;
    }
    Dispatch();
    return true;
}

WorkflowState StandardWorkflow::GetState() {
    Lock lock(mutex);
    return state;
}

bool StandardWorkflow::IsStarted() {
    Lock lock(mutex);
    return state != WorkflowState::NotStarted;
}

bool StandardWorkflow::IsPaused() {
    Lock lock(mutex);
    return state == WorkflowState::Paused || state == WorkflowState::PausedSuspended;
}

bool StandardWorkflow::IsSuspended() {
    Lock lock(mutex);
    return IsSuspendedLocked();
}

bool StandardWorkflow::IsFinished() {
    Lock lock(mutex);
    return IsFinishedLocked();
}

bool StandardWorkflow::Cancel(const WorkStatus& status) {
    {
        Lock lock(mutex);
        if (state == WorkflowState::Cancelled) {
            return false;
        }
        PauseLocked();
        state = WorkflowState::Cancelled;
    }
    root->NotifyComplete(status);
    return true;
}

void StandardWorkflow::AddRetryableErrorCallback(WorkflowRetryableErrorCallback* callback) {
    Lock lock(mutex);
    if (callback != nullptr) {
        retryableErrorCallbacks.push_back(callback);
    }
}

void StandardWorkflow::QueueSimpleWork(std::shared_ptr<SimpleWork> work) {
    Lock lock(mutex);
    if (IsFinishedLocked()) {
        return;
    }
    work->Reset();
    readyQueue.push_back(std::move(work));
    std::push_heap(readyQueue.begin(), readyQueue.end(), RunsLater);
}

void StandardWorkflow::OnSimpleWorkComplete(std::shared_ptr<SimpleWork> work, const WorkStatus& status) {
    Lock lock(mutex);
    if (const auto entry = running.find(work); entry != running.end()) {
        running.erase(entry);
    }
    if (!IsFinishedLocked() &&
        (status.result == WorkResult::Cancelled || status.result == WorkResult::RetryableError)) {
        work->Reset();
        readyQueue.push_back(std::move(work));
        std::push_heap(readyQueue.begin(), readyQueue.end(), RunsLater);
    }
    Dispatch();
}

}  // namespace vrexa
