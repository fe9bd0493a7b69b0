#include "tests/support/transfer/FakeTransferWorkInterface.h"

#include <utility>

namespace vrexa::testsupport {

void RecordingWorkCallback::OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    Add({work, status});
    if (onCall) {
        onCall(work, status);
    }
}

void RecordingRetryableErrorCallback::OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow,
                                                               std::shared_ptr<Work> work, const WorkStatus& status) {
    Add({std::move(workflow), std::move(work), status});
}

FakeTransferWorkInterface::FakeTransferWorkInterface(TransferParams params, TransferBehavior behavior)
    : params_(std::move(params)), behavior_(std::move(behavior)) {}

std::shared_ptr<http::Session> FakeTransferWorkInterface::GetSession() {
    std::lock_guard lock(mutex_);
    return session_;
}

void FakeTransferWorkInterface::SetSession(std::shared_ptr<http::Session> session) {
    std::lock_guard lock(mutex_);
    session_ = std::move(session);
}

void FakeTransferWorkInterface::AddOutputFile(const std::string& relativePath) {
    std::lock_guard lock(mutex_);
    outputFiles_.push_back(relativePath);
}

std::vector<std::string> FakeTransferWorkInterface::OutputFiles() const {
    std::lock_guard lock(mutex_);
    return outputFiles_;
}

}  // namespace vrexa::testsupport
