#pragma once

#include <memory>

#include "transfer/TransferStatusData.h"

namespace vrexa {

class NodeListManifest;

// The node list a fetch acquired, handed to the transfer with the fetch's
// success.
class NodeListStatusData : public TransferStatusData {
public:
    explicit NodeListStatusData(std::shared_ptr<NodeListManifest> nodeList) : nodeList_(std::move(nodeList)) {}

    // Success data: no error of its own.
    TransferError ToTransferError() const override { return TransferError::None; }
    // "count" = the number of nodes; only "nodes" = "null" without a list.
    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<NodeListManifest>& GetNodeList() const { return nodeList_; }

private:
    std::shared_ptr<NodeListManifest> nodeList_;
};

}  // namespace vrexa
