#include "transfer/TransferWorkInterface.h"

namespace vrexa {

TransferParams TransferWorkInterface::GetParams() {
    std::lock_guard lock(dataMutex_);
    return Params();
}

std::shared_ptr<PackageManifest> TransferWorkInterface::GetPackage() {
    std::lock_guard lock(dataMutex_);
    return package_;
}

std::shared_ptr<NodeListManifest> TransferWorkInterface::GetNodeList() {
    std::lock_guard lock(dataMutex_);
    return nodeList_;
}

std::shared_ptr<GeolocationManifest> TransferWorkInterface::GetGeolocation() {
    std::lock_guard lock(dataMutex_);
    return geolocation_;
}

void TransferWorkInterface::SetPreallocate(bool preallocate) {
    std::lock_guard lock(dataMutex_);
    Params().preallocate = preallocate;
}

bool TransferWorkInterface::GetPreallocate() const {
    std::lock_guard lock(dataMutex_);
    return Params().preallocate;
}

void TransferWorkInterface::ChangeParams(const std::function<void(TransferParams&)>& change) {
    std::lock_guard lock(dataMutex_);
    change(Params());
}

void TransferWorkInterface::StorePackage(std::shared_ptr<PackageManifest> package) {
    // The old manifest is released outside the lock: its destructor may be long.
    std::lock_guard lock(dataMutex_);
    package_.swap(package);
}

void TransferWorkInterface::StoreNodeList(std::shared_ptr<NodeListManifest> nodeList) {
    std::lock_guard lock(dataMutex_);
    nodeList_.swap(nodeList);
}

void TransferWorkInterface::StoreGeolocation(std::shared_ptr<GeolocationManifest> geolocation) {
    std::lock_guard lock(dataMutex_);
    geolocation_.swap(geolocation);
}

void TransferWorkInterface::StoreReusedContent(std::shared_ptr<ReusedContent> content) {
    std::lock_guard lock(dataMutex_);
    reused_.swap(content);
}

std::shared_ptr<ReusedContent> TransferWorkInterface::GetReusedContent() {
    std::lock_guard lock(dataMutex_);
    return reused_;
}

}  // namespace vrexa
