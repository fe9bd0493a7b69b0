#include "work/CompositeWork.h"

#include "work/WorkStatusData.h"
#include "work/Workflow.h"

namespace vrexa {

CompositeWork::Progress CompositeWork::ProgressFrom(const WorkStatus& status) {
    return Progress{status.IsFinal(), status};
}

void CompositeWork::Reset() {
    std::lock_guard lock(mutex_);
    progress_ = Progress{};
}

bool CompositeWork::ShouldRetry() { return false; }

std::shared_ptr<Work> CompositeWork::GetSharedPtr() { return shared_from_this(); }

std::shared_ptr<const Work> CompositeWork::GetSharedPtr() const { return shared_from_this(); }

bool CompositeWork::IsComplete() const {
    std::lock_guard lock(mutex_);
    return progress_.complete;
}

void CompositeWork::AdoptChild(std::shared_ptr<Work> child) {
    child->SetParent(weak_from_this());
    if (std::shared_ptr<Workflow> locked = workflow_.lock()) {
        child->SetWorkflow(locked);
    }
}

void CompositeWork::PassWorkflowTo(const std::shared_ptr<Work>& child, const std::weak_ptr<Workflow>& target) {
    child->SetParent(weak_from_this());
    child->SetWorkflow(target);
}

void CompositeWork::Restart() {
    Reset();
    if (std::shared_ptr<Workflow> locked = workflow_.lock()) {
        QueueAvailableWork(locked);
    }
}

void CompositeWork::QueueChild(const std::shared_ptr<Work>& child, const std::shared_ptr<Workflow>& target,
                               unsigned index) {
    // Without a workflow the tree is being torn down: nothing is to run.
    if (!target) {
        return;
    }
    PriorityPath path;
    path.reserve(priorityPath_.size() + 1);
    path = priorityPath_;
    path.push_back(index);
    // A child queued again keeps its path; leaving it untouched then means the
    // path is never written while the workflow may be comparing it.
    if (child->GetPriorityPath() != path) {
        child->SetPriorityPath(std::move(path));
    }
    child->QueueAvailableWork(target);
}

void CompositeWork::OnWorkComplete(std::shared_ptr<Work> child, const WorkStatus& status) {
    std::unique_lock lock(mutex_);
    if (progress_.complete) {
        return;
    }
    if (!AcceptChild(child)) {
        progress_ = ProgressFrom(
            WorkStatus(WorkResult::FatalError,
                       std::make_shared<WorkErrorData>("Invalid child progress for CompositeWork::OnWorkComplete")));
    } else {
        switch (status.result) {
            case WorkResult::Cancelled:
            case WorkResult::RetryableError:
                // A simple child is queued again by the workflow; a composite
                // child has already restarted itself.
                break;
            case WorkResult::FatalError:
                progress_ = ProgressFrom(status);
                break;
            case WorkResult::Success:
            case WorkResult::Failure:
                progress_ = ComputeProgress(child, status);
                break;
        }
    }

    if (progress_.complete) {
        if (progress_.status.result == WorkResult::Success) {
            progress_.status.data.reset();
        }
        const WorkStatus outcome = progress_.status;
        lock.unlock();
        NotifyComplete(outcome);
        return;
    }

    // Only a limited-retry sequence makes a non-final outcome of its own.
    if (progress_.status.result == WorkResult::RetryableError) {
        progress_.status.retry = ShouldRetry();
        if (!progress_.status.retry) {
            const WorkStatus outcome = progress_.status;
            lock.unlock();
            NotifyComplete(outcome);
            lock.lock();
        }
        // Queued again either way: it runs at once when retried in place, or
        // after the workflow's Retry otherwise.
        Restart();
    }
}

}  // namespace vrexa
