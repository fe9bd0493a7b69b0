#include "service/StandardTransferData.h"

#include "http/SessionFactory.h"

namespace vrexa {

StandardTransferData::StandardTransferData(const TransferParams& initialParams, const TransferBehavior& initialBehavior)
    : params(initialParams),
      behavior(initialBehavior),
      status(params, behavior.estimateWindow, behavior.estimateInterval) {
    if (behavior.sessionFactory != nullptr) session = behavior.sessionFactory->CreateSession();
}

TransferParams StandardTransferData::CopyParams() {
    std::lock_guard<std::mutex> guard(dataMutex);
    return params;
}

std::shared_ptr<PackageManifest> StandardTransferData::GetPackage() {
    std::lock_guard<std::mutex> guard(dataMutex);
    return package;
}

std::shared_ptr<NodeListManifest> StandardTransferData::GetNodeList() {
    std::lock_guard<std::mutex> guard(dataMutex);
    return nodeList;
}

std::shared_ptr<GeolocationManifest> StandardTransferData::GetGeolocation() {
    std::lock_guard<std::mutex> guard(dataMutex);
    return geolocation;
}

std::shared_ptr<http::Session> StandardTransferData::GetSession() {
    std::lock_guard<std::mutex> guard(dataMutex);
    return session;
}

}  // namespace vrexa
