#pragma once

#include "service/StandardTransfer.h"

namespace vrexa {

template <typename M>
class ManifestStore;
class TransferManifest;
using TransferManifestStore = ManifestStore<TransferManifest>;

// A transfer that keeps its ids and destination in the store from its first
// Start until it is cancelled, so a later process can rebuild and resume it.
// Suspending keeps the entry; completing does not remove it. The store is
// written and cleaned once the transfer's lock is released, in the order of
// the operations.
class StoredTransfer : public StandardTransfer {
public:
    // store is not owned and must outlive the transfer.
    StoredTransfer(const TransferParams& params, const TransferBehavior& behavior,
                   TransferWorkflowFactory* workflowFactory, TransferManifestStore* store);

    using StandardTransfer::Cancel;
    using StandardTransfer::Start;
    TransferStatus Start(TransferLock& lock, const std::string& destPath) override;
    TransferStatus Cancel(TransferLock& lock, bool removeFiles) override;

private:
    TransferManifestStore* const store_;
};

}  // namespace vrexa
