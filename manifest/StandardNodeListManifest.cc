#include "manifest/StandardNodeListManifest.h"

#include <algorithm>

#include "manifest/ManifestReading.h"
#include "manifest/StandardNodeManifest.h"
#include "manifest/UrlParts.h"

namespace vrexa {

void StandardNodeListManifest::Read(const boost::property_tree::ptree& tree) {
    using namespace reading;
    Guarded([&] {
        nodes_.clear();
        for (const auto& [key, entry] : RequiredChild(tree, "ArrayOfNodeInfo")) {
            // Other children (namespace declarations, comments) are not nodes.
            if (key != "NodeInfo") continue;
            auto node = std::make_shared<StandardNodeManifest>(entry);
            // A node no chunk URL can be built for is left out, so that the
            // others still serve the transfer; only when none is left is the
            // list unusable.
            if (ParseNodeHost(node->GetHost()) && IsNodePath(node->GetPath())) nodes_.push_back(std::move(node));
        }
        if (nodes_.empty()) Reject();

        // A weight of 0 takes a node out of rotation, unless no node has a
        // weight at all, in which case all share equally. The sum is taken
        // wide so that large weights adding up to a multiple of 2^32 are not
        // mistaken for "no weights".
        std::uint64_t total = 0;
        for (const auto& node : nodes_)
            total += node->GetWeight();
        if (total != 0) {
            std::erase_if(nodes_, [](const auto& node) { return node->GetWeight() == 0; });
        } else {
            for (const auto& node : nodes_)
                node->ResetWeight();
        }
    });
}

}  // namespace vrexa
