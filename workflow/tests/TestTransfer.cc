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
        std::lock_guard lock(mutex_);
        packageStatuses_.push_back(status);
        if (auto data = std::dynamic_pointer_cast<PackageStatusData>(status.data)) {
            package_ = data->GetPackage();
            if (params.versionId == "?" && package_) {
                params.versionId = package_->GetVersionId();
            }
        }
    });
    nodeListAcquire_.SetFunction([this](std::shared_ptr<Work>, const WorkStatus& status) {
        if (auto data = std::dynamic_pointer_cast<NodeListStatusData>(status.data)) {
            SetNodeList(data->GetNodeList());
        }
    });
    geolocation_.SetFunction([this](std::shared_ptr<Work>, const WorkStatus& status) {
        std::lock_guard lock(mutex_);
        geolocationStatuses_.push_back(status);
        if (auto data = std::dynamic_pointer_cast<GeolocationStatusData>(status.data)) {
            geolocationManifest_ = data->GetGeolocation();
        }
    });
}

TransferParams TestTransfer::GetParams() {
    std::lock_guard lock(mutex_);
    return params;
}

std::shared_ptr<PackageManifest> TestTransfer::GetPackage() {
    std::lock_guard lock(mutex_);
    return package_;
}

std::shared_ptr<NodeListManifest> TestTransfer::GetNodeList() {
    std::lock_guard lock(mutex_);
    return nodeList_;
}

std::shared_ptr<GeolocationManifest> TestTransfer::GetGeolocation() {
    std::lock_guard lock(mutex_);
    return geolocationManifest_;
}

void TestTransfer::SetPackage(std::shared_ptr<PackageManifest> package) {
    std::lock_guard lock(mutex_);
    package_ = std::move(package);
}

void TestTransfer::SetNodeList(std::shared_ptr<NodeListManifest> nodeList) {
    std::lock_guard lock(mutex_);
    nodeList_ = std::move(nodeList);
}

void TestTransfer::SetGeolocation(std::shared_ptr<GeolocationManifest> geolocation) {
    std::lock_guard lock(mutex_);
    geolocationManifest_ = std::move(geolocation);
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
