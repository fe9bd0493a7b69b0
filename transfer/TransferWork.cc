#include "work/TransferWork.h"

#include <boost/property_tree/ptree.hpp>

#include "transfer/TransferWorkInterface.h"

namespace vrexa {

void TransferWork::DescribeTransfer(boost::property_tree::ptree& tree, bool brief) const {
    if (!transfer_) {
        return;
    }
    // A copy taken under the transfer's lock: descriptions are written from
    // log threads while the transfer may be changing its version or folder.
    const TransferParams params = transfer_->GetParams();
    if (brief) {
        tree.put("transferId", params.transferId);
    } else {
        params.Describe(tree);
    }
}

}  // namespace vrexa
