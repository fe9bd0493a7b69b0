#include "manifest/HttpPackageManifestFactory.h"

#include <utility>

#include "manifest/PackageManifest.h"

namespace vrexa {

HttpPackageManifestFactory::HttpPackageManifestFactory(std::string host, http::RequestFactory& requestFactory,
                                                       std::int32_t connectTimeout, std::int32_t timeout)
    : host_(std::move(host)), fetch_(requestFactory, connectTimeout, timeout, kPackageManifestLimits) {}

std::shared_ptr<PackageManifest> HttpPackageManifestFactory::GetManifest(const std::string& id,
                                                                         std::shared_ptr<http::Session> session) {
    return LoadManifest(CreateSource(id, std::move(session)), id);
}

bool HttpPackageManifestFactory::Validate(const PackageManifest& manifest, const std::string& id) {
    const auto slash = id.find('/');
    if (slash == std::string::npos) {
        return manifest.GetId() == id;
    }
    return manifest.GetId() == id.substr(0, slash) && manifest.GetVersionId() == id.substr(slash + 1);
}

}  // namespace vrexa
