#include "workflow/tests/TestTransfer.h"

#include "manifest/PackageManifest.h"
#include "transfer/TransferStatusData.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/NodeListStatusData.h"
#include "workflow/PackageStatusData.h"

namespace vrexa::testing {

TransferError ErrorOf(const WorkStatus& status) {
    auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
    return data ? data->ToTransferError() : TransferError::None;
}

std::string Message(const WorkStatus& status) {
    auto data = std::dynamic_pointer_cast<WorkErrorData>(status.data);
    return data ? data->GetErrorMessage() : "";
}

TestTransfer::TestTransfer() {
    Params().transferId = "0123456789abcdef0123456789abcdef";
    packageAcquire.onCall = [this](const std::shared_ptr<Work>&, const WorkStatus& status) {
        if (auto data = std::dynamic_pointer_cast<PackageStatusData>(status.data); data && data->GetPackage()) {
            StorePackage(data->GetPackage());
            ChangeParams([&](TransferParams& changed) {
                if (changed.versionId == "?") {
                    changed.versionId = data->GetPackage()->GetVersionId();
                }
            });
        }
        Notify();
    };
    nodeListAcquire.onCall = [this](const std::shared_ptr<Work>&, const WorkStatus& status) {
        if (auto data = std::dynamic_pointer_cast<NodeListStatusData>(status.data)) {
            StoreNodeList(data->GetNodeList());
        }
    };
    geolocation.onCall = [this](const std::shared_ptr<Work>&, const WorkStatus& status) {
        if (auto data = std::dynamic_pointer_cast<GeolocationStatusData>(status.data)) {
            StoreGeolocation(data->GetGeolocation());
        }
    };
    workComplete.onCall = [this](const std::shared_ptr<Work>&, const WorkStatus&) { Notify(); };
    retryableError.onCall = [this](const testsupport::RetryableErrorCall&) { Notify(); };
}

void TestTransfer::Notify() {
    // Taking the lock orders the notification after a waiter's check.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

bool TestTransfer::WaitFor(std::chrono::seconds timeout, const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, done);
}

bool TestTransfer::WaitForEnd(std::chrono::seconds timeout) {
    return WaitFor(timeout, [this] { return Outcome().has_value() || Suspension().has_value(); });
}

bool TestTransfer::WaitForPackageResult(WorkResult result, std::chrono::seconds timeout) {
    return WaitFor(timeout, [&] {
        for (const WorkStatus& status : PackageStatuses()) {
            if (status.result == result) {
                return true;
            }
        }
        return false;
    });
}

std::optional<WorkStatus> TestTransfer::Suspension() const {
    const auto calls = retryableError.Calls();
    if (calls.empty()) {
        return std::nullopt;
    }
    return calls.back().status;
}

std::optional<WorkStatus> TestTransfer::Last(const testsupport::RecordingWorkCallback& callback) {
    const auto calls = callback.Calls();
    if (calls.empty()) {
        return std::nullopt;
    }
    return calls.back().status;
}

std::vector<WorkStatus> TestTransfer::All(const testsupport::RecordingWorkCallback& callback) {
    std::vector<WorkStatus> statuses;
    for (const auto& call : callback.Calls()) {
        statuses.push_back(call.status);
    }
    return statuses;
}

}  // namespace vrexa::testing
