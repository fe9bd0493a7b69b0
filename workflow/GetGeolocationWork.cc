#include "workflow/GetGeolocationWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/HttpGeolocationManifestFactory.h"
#include "manifest/HttpManifestSource.h"
#include "manifest/HttpManifestException.h"
#include "manifest/StandardGeolocationManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/GeolocationStatusData.h"
#include "workflow/HttpManifestStatusData.h"

namespace vrexa {

GetGeolocationWork::GetGeolocationWork(std::shared_ptr<TransferWorkInterface> transfer)
    : ManifestFetchWork(transfer, transfer->GetBehavior().geolocationRetryLimit, transfer->GetGeolocationCallback()) {}

void GetGeolocationWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "GetGeolocationWork");
    DescribeTransfer(tree, false);
}

WorkStatus GetGeolocationWork::ExecuteTask() {
    // The answer when the location cannot be had: every field empty.
    const auto unknown = [] {
        return WorkStatus(WorkResult::Success,
                          std::make_shared<GeolocationStatusData>(std::make_shared<StandardGeolocationManifest>()));
    };
    try {
        GeolocationManifestFactory& factory = *GetTransfer()->GetBehavior().geolocationManifestFactory;
        std::shared_ptr<GeolocationManifest> geolocation =
            LoadCurrent(SourceFrom<HttpGeolocationManifestFactory>(factory),
                        [&](const auto& source) { return factory.LoadManifest(source); });
        return WorkStatus(WorkResult::Success, std::make_shared<GeolocationStatusData>(std::move(geolocation)));
    } catch (const ManifestAbortedException&) {
        return WorkStatus(WorkResult::Cancelled, nullptr);
    } catch (const HttpManifestStreamException& e) {
        if (GetRetries() < GetMaxRetries()) {
            return WorkStatus(WorkResult::RetryableError,
                              std::make_shared<HttpManifestStatusData>(TransferError::NetworkError, e.GetStatus()));
        }
        return unknown();
    } catch (const ManifestException&) {
        return unknown();
    } catch (...) {
        // Exhausted memory and the unexpected end the transfer as for any fetch.
        return FetchFailure(std::current_exception());
    }
}

}  // namespace vrexa
