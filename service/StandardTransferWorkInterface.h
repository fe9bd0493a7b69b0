#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "service/TransferLock.h"
#include "transfer/TransferWorkInterface.h"
#include "work/WorkCompleteCallbackRoute.h"
#include "work/WorkflowRetryableErrorCallback.h"

namespace vrexa {

class StandardTransferData;
class Transfer;

// The door of one run of a transfer: works read the shared data through it and
// its callbacks forward their outcomes to the transfer's handlers. Every
// forward takes the transfer's lock and reaches the handler only while the
// interface is active. The transfer deactivates it when it replaces its data
// (callbacks of the old run's works are then dropped) and when it is destroyed
// (the destructor waits for forwards already past the check, so no late work
// ever calls into a destroyed transfer).
class StandardTransferWorkInterface : public TransferWorkInterface, public WorkflowRetryableErrorCallback {
public:
    StandardTransferWorkInterface(Transfer* transfer, std::shared_ptr<StandardTransferData> data);
    StandardTransferWorkInterface(const StandardTransferWorkInterface&) = delete;
    StandardTransferWorkInterface& operator=(const StandardTransferWorkInterface&) = delete;
    ~StandardTransferWorkInterface() override;

    TransferParams& Params() override;
    const TransferParams& Params() const override;
    TransferBehavior& GetBehavior() override;
    std::shared_ptr<TransferProgressUpdater> GetProgress() override;
    std::shared_ptr<http::Session> GetSession() override;
    WorkCompleteCallback& GetWorkCompleteCallback() override { return workComplete_; }
    WorkCompleteCallback& GetPackageAcquireCallback() override { return packageAcquire_; }
    WorkCompleteCallback& GetNodeListAcquireCallback() override { return nodeListAcquire_; }
    WorkCompleteCallback& GetGeolocationCallback() override { return geolocation_; }
    WorkCompleteCallback& GetInitializeCallback() override { return initialize_; }
    WorkflowRetryableErrorCallback& GetRetryableErrorCallback() override { return *this; }
    void AddOutputFile(const std::string& relativePath) override;

    void OnWorkflowRetryableError(std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                  const WorkStatus& status) override;

    // A new HTTP session for the works that start from now on.
    void SetSession(std::shared_ptr<http::Session> session);

    // From now on callbacks are dropped. Called with the transfer's lock held
    // when the transfer replaces its data; forwards waiting for that lock
    // see the change when they get it.
    void Deactivate();
    // Deactivate, then wait until no forward is between its check and its
    // return. The caller must not hold the transfer's lock.
    void DeactivateAndWait();
    bool IsActive();

private:
    template <class Handler>
    void Forward(Handler&& handler);

    Transfer* const transfer_;
    const std::shared_ptr<StandardTransferData> data_;
    std::mutex mutex_;
    std::condition_variable idle_;
    bool active_ = true;
    int inFlight_ = 0;
    WorkCompleteCallbackRoute workComplete_;
    WorkCompleteCallbackRoute packageAcquire_;
    WorkCompleteCallbackRoute nodeListAcquire_;
    WorkCompleteCallbackRoute geolocation_;
    WorkCompleteCallbackRoute initialize_;
};

}  // namespace vrexa
