#include "manifest/XmlHttpPackageManifestFactory.h"

#include <utility>

#include "manifest/ManifestUrl.h"
#include "manifest/XmlHttpManifestSource.h"

namespace vrexa {

std::shared_ptr<ManifestSource> XmlHttpPackageManifestFactory::CreateSource(const std::string& id) {
    return CreateSource(id, nullptr);
}

std::shared_ptr<HttpManifestSource> XmlHttpPackageManifestFactory::CreateSource(
    const std::string& id, std::shared_ptr<http::Session> session) {
    return GetFetch().MakeSource<XmlHttpManifestSource>(BuildUrl(id), std::move(session));
}

std::string XmlHttpPackageManifestFactory::BuildUrl(const std::string& id) { return PackageManifestUrl(GetHost(), id); }

}  // namespace vrexa
