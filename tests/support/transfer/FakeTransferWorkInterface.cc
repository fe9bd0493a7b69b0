#include "tests/support/transfer/FakeTransferWorkInterface.h"

#include <utility>

namespace vrexa::testsupport {

namespace {

template <typename Calls>
bool WaitUntil(std::mutex& mutex, std::condition_variable& changed, const Calls& calls, std::size_t count,
               std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return calls.size() >= count; });
}

}  // namespace

void RecordingWorkCallback::OnWorkComplete(std::shared_ptr<Work> work, const WorkStatus& status) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({work, status});
    }
    changed_.notify_all();
    if (onCall) {
        onCall(work, status);
    }
}

std::vector<RecordingWorkCallback::Call> RecordingWorkCallback::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

bool RecordingWorkCallback::WaitForCalls(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil(mutex_, changed_, calls_, count, timeout);
}

void RecordingRetryableErrorCallback::OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow,
                                                               std::shared_ptr<Work> work, const WorkStatus& status) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({std::move(workflow), std::move(work), status});
    }
    changed_.notify_all();
}

std::vector<RecordingRetryableErrorCallback::Call> RecordingRetryableErrorCallback::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

bool RecordingRetryableErrorCallback::WaitForCalls(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil(mutex_, changed_, calls_, count, timeout);
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
