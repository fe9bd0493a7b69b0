#include "work/WorkManager.h"

#include "work/SimpleWork.h"
#include "work/WorkStatusData.h"
#include "work/Workflow.h"

namespace vrexa {

void WorkManager::RunSimpleWork(const std::shared_ptr<SimpleWork>& work) {
    const WorkStatus status = work->Execute();
    try {
        work->NotifyComplete(status);
    } catch (...) {
        // Nothing above a job could take the exception: the outcome is lost,
        // the worker thread is not.
    }
}

void WorkManager::RunWorkflowWork(const std::shared_ptr<Workflow>& workflow, const std::shared_ptr<SimpleWork>& work) {
    const WorkStatus status = work->Execute();
    try {
        work->NotifyComplete(status);
        workflow->OnSimpleWorkComplete(work, status);
    } catch (...) {
        try {
            workflow->Cancel(
                WorkStatus(WorkResult::FatalError, std::make_shared<WorkExceptionData>(std::current_exception())));
        } catch (...) {
            // A root callback threw in turn; the workflow is cancelled anyway.
        }
    }
}

}  // namespace vrexa
