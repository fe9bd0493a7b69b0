#pragma once

#include <memory>
#include <string>

#include "service/TransferLock.h"
#include "transfer/TransferStatus.h"

namespace vrexa {

class TransferWorkInterface;
class Work;
class Workflow;
class WorkStatus;

// One download of one package version into one destination folder, driven by
// its client (initialize, start, pause, resume, retry, suspend, restore,
// cancel) and by its works' callbacks. No operation throws: each returns the
// status snapshot taken at its end, and an inconsistency becomes error Unknown
// on the transfer.
class Transfer {
public:
    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    virtual ~Transfer() = default;

    virtual TransferStatus Initialize() = 0;
    virtual TransferStatus Start(const std::string& destPath) = 0;
    // Whether the package fits into destPath, counting what is already there.
    virtual bool CanTransferTo(const std::string& destPath) = 0;
    // Whether path holds nothing but the package's files.
    virtual bool IsSuperset(const std::string& path, bool ignoreHidden) = 0;
    // Whether path holds every file of the package (of the right size).
    virtual bool IsSubset(const std::string& path, bool checkSizes) = 0;
    // A status poll that also raises the periodic event when it is due.
    virtual TransferStatus Update() = 0;
    virtual TransferStatus Cancel(bool removeFiles) = 0;
    virtual TransferStatus Pause() = 0;
    virtual TransferStatus Resume() = 0;
    virtual TransferStatus Retry() = 0;
    virtual TransferStatus Suspend() = 0;
    virtual TransferStatus Restore() = 0;
    virtual std::shared_ptr<TransferWorkInterface> GetWorkInterface() = 0;
    // JSON: every node of the node list with its statistics; "" without one.
    virtual std::string DescribeNodes() = 0;

    // The same operations for a caller that already holds the transfer's lock.
    virtual TransferStatus Initialize(TransferLock& lock) = 0;
    virtual TransferStatus Start(TransferLock& lock, const std::string& destPath) = 0;
    virtual TransferStatus GetStatus(TransferLock& lock) = 0;
    virtual TransferStatus Cancel(TransferLock& lock, bool removeFiles) = 0;
    virtual TransferStatus Pause(TransferLock& lock) = 0;
    virtual TransferStatus Resume(TransferLock& lock) = 0;
    virtual TransferStatus Retry(TransferLock& lock) = 0;
    virtual TransferStatus Suspend(TransferLock& lock) = 0;
    virtual TransferStatus Restore(TransferLock& lock) = 0;

    // The works' callbacks, reached through the work interface with the lock held.
    virtual void OnWorkComplete(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) = 0;
    virtual void OnPackageAcquire(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) = 0;
    virtual void OnNodeListAcquire(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) = 0;
    virtual void OnGeolocation(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) = 0;
    virtual void OnInitialize(TransferLock& lock, std::shared_ptr<Work> work, const WorkStatus& status) = 0;
    virtual void OnWorkflowRetryableError(TransferLock& lock, std::shared_ptr<Workflow> workflow,
                                          std::shared_ptr<Work> work, const WorkStatus& status) = 0;
    virtual void OnOutputFile(TransferLock& lock, const std::string& relativePath) = 0;

    // The lock the operations above serialize on.
    virtual TransferMutex& GetMutex() = 0;
};

}  // namespace vrexa
