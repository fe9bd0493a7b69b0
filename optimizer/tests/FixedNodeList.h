#pragma once

#include <utility>

#include "manifest/NodeListManifest.h"

namespace vrexa {

// A node list made in code rather than read, so that tests and benchmarks can
// hold nodes a document would never deliver (weight 0 beside weighted nodes).
class FixedNodeList : public NodeListManifest {
public:
    explicit FixedNodeList(Nodes nodes) : nodes_(std::move(nodes)) {}
    void Read(const boost::property_tree::ptree&) override {}
    const Nodes& GetNodes() const override { return nodes_; }

private:
    Nodes nodes_;
};

}  // namespace vrexa
