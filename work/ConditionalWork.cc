#include "work/ConditionalWork.h"

#include <stdexcept>

#include "work/Workflow.h"

namespace vrexa {

void ConditionalWork::SetCondition(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex);
        condition = child;
        current = child;
    }
    AdoptChild(std::move(child));
}

void ConditionalWork::SetOnSuccess(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex);
        onSuccess = child;
    }
    AdoptChild(std::move(child));
}

void ConditionalWork::SetOnFailure(std::shared_ptr<Work> child) {
    {
        std::lock_guard lock(mutex);
        onFailure = child;
    }
    AdoptChild(std::move(child));
}

void ConditionalWork::Reset() {
    std::lock_guard lock(mutex);
    CompositeWork::Reset();
    current = condition;
    for (const std::shared_ptr<Work>* child : {&condition, &onSuccess, &onFailure}) {
        if (*child) {
            (*child)->Reset();
        }
    }
}

void ConditionalWork::OnSetWorkflow(std::weak_ptr<Workflow> target) {
    std::shared_ptr<Work> children[3];
    {
        std::lock_guard lock(mutex);
        children[0] = condition;
        children[1] = onFailure;
        children[2] = onSuccess;
    }
    for (const std::shared_ptr<Work>& child : children) {
        if (child) {
            PassWorkflowTo(child, target);
        }
    }
}

void ConditionalWork::QueueAvailableWork(std::shared_ptr<Workflow> target) {
    std::lock_guard lock(mutex);
    if (!condition || !onSuccess || !onFailure) {
        throw std::logic_error("ConditionalWork::QueueAvailableWork called with incomplete children");
    }
    QueueChild(condition, target, 0);
}

bool ConditionalWork::AcceptChild(const std::shared_ptr<Work>& child) { return !progress.complete && child == current; }

CompositeWork::Progress ConditionalWork::ComputeProgress(const std::shared_ptr<Work>& child, const WorkStatus& status) {
    if (child != condition) {
        return ProgressFrom(status);
    }
    current = status.result == WorkResult::Success ? onSuccess : onFailure;
    QueueChild(current, workflow.lock(), 0);
    return Progress{};
}

}  // namespace vrexa
