#include "manifest/XmlHttpPackageManifestFactory.h"

#include <utility>

#include "manifest/DocumentLimits.h"
#include "manifest/ManifestUrl.h"
#include "manifest/XmlHttpManifestSource.h"

namespace vrexa {

std::shared_ptr<ManifestSource> XmlHttpPackageManifestFactory::CreateSource(const std::string& id) {
    return CreateSource(id, nullptr);
}

std::shared_ptr<HttpManifestSource> XmlHttpPackageManifestFactory::CreateSource(
    const std::string& id, std::shared_ptr<http::Session> session) {
    return std::make_shared<XmlHttpManifestSource>(BuildUrl(id), GetRequestFactory(), std::move(session),
                                                   GetConnectTimeout(), GetTimeout(), kPackageManifestLimits);
}

std::string XmlHttpPackageManifestFactory::BuildUrl(const std::string& id) {
    std::string path = "/manifests/" + id;
    if (id.find('/') == std::string::npos) {
        path += "/current";
    }
    return ComposeManifestUrl(GetHost(), path + ".xml");
}

}  // namespace vrexa
