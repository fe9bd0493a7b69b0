#include "workflow/NodeListStatusData.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/NodeListManifest.h"

namespace vrexa {

void NodeListStatusData::Describe(boost::property_tree::ptree& tree) const {
    if (!nodeList_) {
        tree.put("nodes", "null");
        return;
    }
    tree.put("count", nodeList_->GetNodes().size());
}

}  // namespace vrexa
