#pragma once

#include <memory>
#include <vector>

#include "manifest/InputManifest.h"
#include "manifest/NodeManifest.h"

namespace vrexa {

// The download servers a partner's packages may be fetched from.
class NodeListManifest : public InputManifest {
public:
    using Nodes = std::vector<std::shared_ptr<NodeManifest>>;

    virtual const Nodes& GetNodes() const = 0;
};

}  // namespace vrexa
