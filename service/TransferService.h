#pragma once

#include <memory>
#include <string>

#include "service/TransferContract.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferStatus.h"

namespace vrexa {

class TransferServiceCore;

// The download engine's entry object. A client builds one from the behaviour
// settings and then drives transfers by id; every operation answers with a
// snapshot of the transfer's status, never with the transfer itself, and
// nothing is thrown. Safe to call from several threads at once (the client's
// and the monitor's).
//
// An id the service does not hold answers with that id, state None and error
// None (CanTransferTo: false); a creation that failed (after shutdown)
// answers with an empty id, state None and error Unknown.
//
// Destroying the service first suspends every transfer (one never started is
// cancelled instead; a started one stays stored and can be found again by a
// later service under the same settings), then releases the components. A
// monitor polling the service must be destroyed before it. Transfers are
// stored and logs written under the file system's temporary-files folder,
// which must exist (the client makes sure of it, as it does of its own data
// folder).
class TransferService : public TransferContract {
public:
    explicit TransferService(const TransferSettings& settings);
    // For tests and tools: a core built by the caller (see TransferServiceCore).
    explicit TransferService(std::unique_ptr<TransferServiceCore> core);
    ~TransferService() override;
    TransferService(const TransferService&) = delete;
    TransferService& operator=(const TransferService&) = delete;

    using TransferContract::Start;
    using TransferContract::Transfer;
    // A new transfer with a fresh id, initializing. Once the monitor reports
    // it initialized, the client starts it into a destination.
    TransferStatus Transfer(const std::string& partnerId, const std::string& packageId,
                            const std::string& versionId) override;
    bool CanTransferTo(const std::string& transferId, const std::string& destPath) override;
    // destPath "?" keeps the destination the transfer already has (one found
    // again from the store); a transfer is stored from its first Start.
    TransferStatus Start(const std::string& transferId, const std::string& destPath) override;
    TransferStatus Update(const std::string& transferId) override;
    TransferStatus Pause(const std::string& transferId) override;
    TransferStatus Resume(const std::string& transferId) override;
    TransferStatus Retry(const std::string& transferId) override;
    TransferStatus Suspend(const std::string& transferId) override;
    TransferStatus Restore(const std::string& transferId) override;
    TransferStatus Cancel(const std::string& transferId, bool removeFiles) override;

    // Checks the package already in destPath against its manifest, chunk by
    // chunk, without writing a byte. The transfer is made like any other
    // (fresh id, initializing, in the same manager, so Update, Pause, Cancel,
    // the monitor and every other operation reach it by its id) but it starts
    // itself into destPath as soon as it is initialized: the client never
    // sees it Initialized and never calls Start. It ends Complete when every
    // file has its size and every chunk its checksum; the first difference
    // ends it with error ChecksumMismatch (a missing file too). It reports no
    // analytics and is never stored: a later service does not know its id,
    // and Suspend of one that has not started cancels it.
    TransferStatus Verify(const std::string& partnerId, const std::string& packageId, const std::string& versionId,
                          const std::string& destPath);

    // The settings and components every transfer of this service gets.
    TransferBehavior GetBehavior() const;

private:
    std::unique_ptr<TransferServiceCore> core_;
};

}  // namespace vrexa
