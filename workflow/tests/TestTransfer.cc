#include "workflow/tests/TestTransfer.h"

#include "manifest/PackageManifest.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/NodeListStatusData.h"
#include "workflow/PackageStatusData.h"

namespace vrexa::testing {

TestTransfer::TestTransfer() {
    params.transferId = "0123456789abcdef0123456789abcdef";
    workComplete_.SetFunction([this](std::shared_ptr<Work>, const WorkStatus& status) { Record(outcome_, status); });
    initialize_.SetFunction([this](std::shared_ptr<Work>, const WorkStatus& status) { Record(initialized_, status); });
    packageAcquire_.SetFunction([this](std::shared_ptr<Work>, const WorkStatus& status) {
        if (auto data = std::dynamic_pointer_cast<PackageStatusData>(status.data); data && data->GetPackage()) {
            StorePackage(data->GetPackage());
            ChangeParams([&](TransferParams& changed) {
                if (changed.versionId == "?") {
                    changed.versionId = data->GetPackage()->GetVersionId();
                }
            });
        }
        {
            std::lock_guard lock(mutex_);
            packageStatuses_.push_back(status);
        }
        changed_.notify_all();
    });
    nodeListAcquire_.SetFunction([this](std::shared_ptr<Work>, const WorkStatus& status) {
        if (auto data = std::dynamic_pointer_cast<NodeListStatusData>(status.data)) {
            SetNodeList(data->GetNodeList());
        }
    });
    geolocation_.SetFunction([this](std::shared_ptr<Work>, const WorkStatus& status) {
        if (auto data = std::dynamic_pointer_cast<GeolocationStatusData>(status.data)) {
            StoreGeolocation(data->GetGeolocation());
        }
        std::lock_guard lock(mutex_);
        geolocationStatuses_.push_back(status);
    });
}

void TestTransfer::AddOutputFile(const std::string& relativePath) {
    std::lock_guard lock(mutex_);
    outputFiles_.push_back(relativePath);
}

void TestTransfer::Record(std::optional<WorkStatus>& slot, const WorkStatus& status) {
    {
        std::lock_guard lock(mutex_);
        slot = status;
    }
    changed_.notify_all();
}

void TestTransfer::RetryableCallback::OnWorkflowRetryableError(std::shared_ptr<Workflow>, std::shared_ptr<Work>,
                                                               const WorkStatus& status) {
    owner_.Record(owner_.suspension_, status);
}

std::optional<WorkStatus> TestTransfer::WaitForOutcome(std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return outcome_.has_value(); });
    return outcome_;
}

bool TestTransfer::WaitForEnd(std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return outcome_.has_value() || suspension_.has_value(); });
}

bool TestTransfer::WaitForPackageResult(WorkResult result, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        for (const WorkStatus& status : packageStatuses_) {
            if (status.result == result) {
                return true;
            }
        }
        return false;
    });
}

std::optional<WorkStatus> TestTransfer::Outcome() {
    std::lock_guard lock(mutex_);
    return outcome_;
}

std::optional<WorkStatus> TestTransfer::Initialized() {
    std::lock_guard lock(mutex_);
    return initialized_;
}

std::optional<WorkStatus> TestTransfer::Suspension() {
    std::lock_guard lock(mutex_);
    return suspension_;
}

std::vector<std::string> TestTransfer::OutputFiles() {
    std::lock_guard lock(mutex_);
    return outputFiles_;
}

std::vector<WorkStatus> TestTransfer::PackageStatuses() {
    std::lock_guard lock(mutex_);
    return packageStatuses_;
}

std::vector<WorkStatus> TestTransfer::GeolocationStatuses() {
    std::lock_guard lock(mutex_);
    return geolocationStatuses_;
}

}  // namespace vrexa::testing
