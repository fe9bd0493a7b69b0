#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/InputManifest.h"
#include "manifest/OutputManifest.h"

namespace vrexa {

class NodeStatistics;

// One download server of the node list. The path always begins and ends with
// "/". Every node carries its own statistics of the requests sent to it.
class NodeManifest : public InputManifest, public OutputManifest, public std::enable_shared_from_this<NodeManifest> {
public:
    virtual const std::string& GetNodeId() const = 0;
    virtual const std::string& GetHost() const = 0;
    virtual const std::string& GetPath() const = 0;
    virtual std::uint32_t GetWeight() const = 0;
    // Sets the weight to 1.
    virtual void ResetWeight() = 0;
    virtual std::shared_ptr<NodeStatistics> GetStatistics() const = 0;
    // A new node with the same id, host, path and weight that reports into
    // `statistics`.
    virtual std::shared_ptr<NodeManifest> CloneWithStatistics(std::shared_ptr<NodeStatistics> statistics) const = 0;
};

}  // namespace vrexa
