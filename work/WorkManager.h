#pragma once

#include <functional>
#include <memory>

namespace vrexa {

class SimpleWork;
class Workflow;

// A pool of worker threads. Jobs are taken in the order they were posted;
// posting never blocks and never runs the job on the caller's thread. Jobs
// must not let exceptions escape.
class WorkManager {
public:
    WorkManager() = default;
    WorkManager(const WorkManager&) = delete;
    WorkManager& operator=(const WorkManager&) = delete;
    virtual ~WorkManager() = default;

    virtual void Post(std::function<void()> job) = 0;
    // Runs a work that belongs to no workflow: Execute, then NotifyComplete.
    virtual void Post(std::shared_ptr<SimpleWork> work) = 0;
    // Runs a work of a workflow: Execute, NotifyComplete, then the workflow's
    // OnSimpleWorkComplete; an exception from the last two cancels the
    // workflow with FatalError.
    virtual void Post(std::shared_ptr<Workflow> workflow, std::shared_ptr<SimpleWork> work) = 0;

protected:
    // The two work jobs, the same for every manager.
    static void RunSimpleWork(const std::shared_ptr<SimpleWork>& work);
    static void RunWorkflowWork(const std::shared_ptr<Workflow>& workflow, const std::shared_ptr<SimpleWork>& work);
};

}  // namespace vrexa
