#pragma once

#include <memory>

namespace vrexa {

class Work;
class Workflow;
class WorkStatus;

// Told when a workflow suspends itself because a work ended with a
// RetryableError that it did not retry in place.
class WorkflowRetryableErrorCallback {
public:
    virtual ~WorkflowRetryableErrorCallback() = default;
    virtual void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                          const WorkStatus& status) = 0;
};

}  // namespace vrexa
