#pragma once

#include <memory>

#include <boost/property_tree/ptree_fwd.hpp>

namespace vrexa {

class TransferWorkInterface;

// Carried by every work of a transfer, as its first base: the door to the
// transfer being run (parameters, settings, manifests, reports).
class TransferWork {
public:
    explicit TransferWork(std::shared_ptr<TransferWorkInterface> transfer) : transfer_(std::move(transfer)) {}
    TransferWork(const TransferWork&) = delete;
    TransferWork& operator=(const TransferWork&) = delete;
    virtual ~TransferWork() = default;

    const std::shared_ptr<TransferWorkInterface>& GetTransfer() const { return transfer_; }

    // The transfer's full parameters, or only "transferId" when brief. Written
    // after the work's "name". Defined with the transfer, which knows the
    // interface.
    void DescribeTransfer(boost::property_tree::ptree& tree, bool brief) const;

protected:
    std::shared_ptr<TransferWorkInterface> transfer_;
};

}  // namespace vrexa
