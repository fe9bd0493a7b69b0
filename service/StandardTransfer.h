#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/Transfer.h"
#include "service/TransferLock.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferError.h"
#include "transfer/TransferParams.h"
#include "transfer/TransferState.h"

namespace vrexa {

class DestinationLock;
class StandardTransferData;
class StandardTransferWorkInterface;
class TransferEvent;
struct TransferEventCapture;
class TransferWorkflowFactory;

// The transfer's state machine. Client operations and work callbacks are the
// only transitions; any other request leaves the status as it is.
//
//      new ─────────────► Initializing ◄──── Resume ─── InitializePaused
//       │ (restored)          │     └────── Pause ────────►  │
//       ▼                     │ OnInitialize                 │ OnInitialize
//   Suspended ── Restore ──►  ▼                              │
//       ▲                 Initialized ◄──────────────────────┘
//       │                     │ Start(destination)
//       │                     ▼
//       │                 Transferring ◄──── Resume ─── Paused
//       │                     │     └────── Pause ────────►  │
//       │                     │ OnWorkComplete(Success)      │ OnWorkComplete(Success)
//       │                     ▼                              │
//       └── Suspend ──── Complete ◄──────────────────────────┘
//
//   Cancel:  any state whose status is not final ──► Cancelled
//   Suspend: any state whose status is not final ──► Suspended, except that a
//            transfer never stored (not restored, still Initializing,
//            InitializePaused or Initialized) is cancelled instead.
//   Errors never move the state: a fatal error makes the status final where it
//   happened; a retryable one keeps it live until Retry clears it.
//
// Every transition queues its event while the lock is held; the event is
// raised after the outermost release of the lock, in transition order.
class StandardTransfer : public Transfer {
public:
    StandardTransfer(const TransferParams& params, const TransferBehavior& behavior,
                     TransferWorkflowFactory* workflowFactory);
    ~StandardTransfer() override;

    TransferStatus Initialize() override;
    TransferStatus Start(const std::string& destPath) override;
    bool CanTransferTo(const std::string& destPath) override;
    bool IsSuperset(const std::string& path, bool ignoreHidden) override;
    bool IsSubset(const std::string& path, bool checkSizes) override;
    TransferStatus Update() override;
    TransferStatus Cancel(bool removeFiles) override;
    TransferStatus Pause() override;
    TransferStatus Resume() override;
    TransferStatus Retry() override;
    TransferStatus Suspend() override;
    TransferStatus Restore() override;
    std::shared_ptr<TransferWorkInterface> GetWorkInterface() override;
    std::string DescribeNodes() override;

    TransferStatus Initialize(TransferLock& lock) override;
    TransferStatus Start(TransferLock& lock, const std::string& destPath) override;
    TransferStatus GetStatus(TransferLock& lock) override;
    TransferStatus Cancel(TransferLock& lock, bool removeFiles) override;
    TransferStatus Pause(TransferLock& lock) override;
    TransferStatus Resume(TransferLock& lock) override;
    TransferStatus Retry(TransferLock& lock) override;
    TransferStatus Suspend(TransferLock& lock) override;
    TransferStatus Restore(TransferLock& lock) override;

    void OnWorkComplete(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) override;
    void OnPackageAcquire(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) override;
    void OnNodeListAcquire(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) override;
    void OnGeolocation(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) override;
    void OnInitialize(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) override;
    void OnWorkflowRetryableError(TransferLock& lock, std::shared_ptr<Workflow> workflow, std::shared_ptr<Work> work,
                                  const WorkStatus& status) override;
    void OnOutputFile(TransferLock& lock, const std::string& relativePath) override;

    TransferMutex& GetMutex() override { return mutex_; }

    // Runs ended by Suspend that this transfer still keeps track of.
    std::size_t RetiredRuns();

    // A destination as it is stored: absolute and lexically normal (a
    // relative path would mean another folder to a later process); "?" and
    // "" stay as they are.
    static std::string NormalizeDestination(const std::string& destPath);

protected:
    // The current params and state (under the lock).
    TransferParams GetParams(TransferLock& lock);
    TransferState GetState(TransferLock& lock) const;

private:
    enum class EventProgress { Without, With };

    TransferState State() const;
    TransferError Error() const;
    bool IsFinal() const;
    void SetState(TransferState state);
    void SetFinalState(TransferState state);
    void Fail(TransferLock& lock, const std::string& message, TransferError error);
    // Creates the workflow when there is none; a factory failure ends the
    // transfer with Unknown.
    void EnsureWorkflow(TransferLock& lock);
    void PauseAndReleaseWorkflow();
    // Takes the destination's lock for this transfer; false (and the transfer
    // failed) when another transfer holds it or it cannot be taken.
    bool LockDestination(TransferLock& lock, const std::string& destPath);
    bool IsInitializing() const;
    void RemoveOutputFiles(TransferLock& lock);
    // Defers the removal of one output file past the lock.
    void RemoveOutputFile(TransferLock& lock, const std::string& relativePath);

    TransferEventCapture Capture(EventProgress progress);
    void Queue(TransferLock& lock, std::shared_ptr<TransferEvent> event);
    template <class Event>
    void QueueEvent(TransferLock& lock, EventProgress progress);

    TransferMutex mutex_;
    TransferWorkflowFactory* const workflowFactory_;
    std::shared_ptr<StandardTransferData> data_;
    std::shared_ptr<StandardTransferWorkInterface> interface_;
    // Interfaces of runs ended by Suspend: their works may still report.
    std::vector<std::weak_ptr<StandardTransferWorkInterface>> retired_;
    std::shared_ptr<Workflow> workflow_;
    // Held from Start until the transfer ends or is suspended; shared with a
    // pending removal of output files, which must finish before another
    // transfer may write into the destination.
    std::shared_ptr<DestinationLock> destinationLock_;
};

}  // namespace vrexa
