#include "workflow/GetNodeListWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/HttpNodeListManifestFactory.h"
#include "manifest/HttpManifestSource.h"
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
        std::shared_ptr<ManifestSource> source;
        if (auto* http = dynamic_cast<HttpNodeListManifestFactory*>(&factory)) {
            source = http->CreateSource(partnerId, GetTransfer()->GetSession());
        } else {
            source = factory.CreateSource(partnerId);
        }
        std::shared_ptr<NodeListManifest> nodeList;
        {
            CurrentSource current(*this, source);
            nodeList = factory.LoadManifest(source, partnerId);
        }
        return WorkStatus(WorkResult::Success, std::make_shared<NodeListStatusData>(std::move(nodeList)));
    } catch (...) {
        return FetchFailure(std::current_exception());
    }
}

}  // namespace vrexa
