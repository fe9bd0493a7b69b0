#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/transfer/FakeTransferWorkInterface.h"
#include "transfer/TransferError.h"

namespace vrexa::testing {

using testsupport::CountingProgress;

// The transfer error a status carries; None when its data carries none.
TransferError ErrorOf(const WorkStatus& status);
// The message of a status's error data; empty when it has none.
std::string Message(const WorkStatus& status);

// The recording transfer of the test support, keeping what the fetching
// works acquire as the real transfer's handlers do (through the interface's
// data lock, a current version replacing "?"), with waits for the root's
// outcome or a suspension. Fill in Params() and GetBehavior() before any
// work runs.
class TestTransfer : public testsupport::FakeTransferWorkInterface {
public:
    TestTransfer();

    void SetPackage(std::shared_ptr<PackageManifest> package) { StorePackage(std::move(package)); }
    void SetNodeList(std::shared_ptr<NodeListManifest> nodeList) { StoreNodeList(std::move(nodeList)); }
    void SetGeolocation(std::shared_ptr<GeolocationManifest> geolocation) { StoreGeolocation(std::move(geolocation)); }

    // Waits for the root's outcome or a suspension of the workflow; false
    // when neither came in time.
    bool WaitForEnd(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Waits until the package callback has seen a status with this result.
    bool WaitForPackageResult(WorkResult result, std::chrono::seconds timeout = std::chrono::seconds(30));

    // The last status of the root, the initialization and the suspension,
    // when there was one.
    std::optional<WorkStatus> Outcome() const { return Last(workComplete); }
    std::optional<WorkStatus> Initialized() const { return Last(initialize); }
    std::optional<WorkStatus> Suspension() const;
    // Every status the package and geolocation callbacks saw, in order.
    std::vector<WorkStatus> PackageStatuses() const { return All(packageAcquire); }
    std::vector<WorkStatus> GeolocationStatuses() const { return All(geolocation); }

private:
    static std::optional<WorkStatus> Last(const testsupport::RecordingWorkCallback& callback);
    static std::vector<WorkStatus> All(const testsupport::RecordingWorkCallback& callback);
    bool WaitFor(std::chrono::seconds timeout, const std::function<bool()>& done);
    void Notify();

    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace vrexa::testing
