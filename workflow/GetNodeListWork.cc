#include "workflow/GetNodeListWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/HttpNodeListManifestFactory.h"
#include "manifest/HttpManifestSource.h"
#include "manifest/ManifestTrust.h"
#include "manifest/NodeListManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/NodeListStatusData.h"

namespace vrexa {

GetNodeListWork::GetNodeListWork(std::shared_ptr<TransferWorkInterface> transfer)
    : ManifestFetchWork(transfer, transfer->GetBehavior().manifestRetryLimit, transfer->GetNodeListAcquireCallback()) {}

void GetNodeListWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "GetNodeListWork");
    DescribeTransfer(tree, false);
}

WorkStatus GetNodeListWork::ExecuteTask() {
    try {
        const std::string partnerId = GetTransfer()->GetParams().partnerId;
        NodeListManifestFactory& factory = *GetTransfer()->GetBehavior().nodeListManifestFactory;
        const std::shared_ptr<ManifestSource> source = SourceFrom<HttpNodeListManifestFactory>(factory, partnerId);
        std::optional<TrustedComment> signedBy;
        RequireSignature(source, "nodes", partnerId, signedBy);
        std::shared_ptr<NodeListManifest> nodeList =
            LoadCurrent(source, [&](const auto& current) { return factory.LoadManifest(current, partnerId); });
        if (signedBy) GetTransfer()->GetBehavior().manifestTrust->Accept("nodes", partnerId, *signedBy);
        return WorkStatus(WorkResult::Success, std::make_shared<NodeListStatusData>(std::move(nodeList)));
    } catch (...) {
        return FetchFailure(std::current_exception());
    }
}

}  // namespace vrexa
