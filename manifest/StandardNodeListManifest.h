#pragma once

#include "manifest/NodeListManifest.h"

namespace vrexa {

// The "ArrayOfNodeInfo" document: every "NodeInfo" child is a node, other
// children are skipped. After reading, nodes of weight 0 are dropped when any
// node has a weight; when none has, every node gets weight 1.
class StandardNodeListManifest : public NodeListManifest {
public:
    void Read(const boost::property_tree::ptree& tree) override;

    const Nodes& GetNodes() const override { return nodes_; }

private:
    Nodes nodes_;
};

}  // namespace vrexa
