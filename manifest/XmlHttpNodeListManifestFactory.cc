#include "manifest/XmlHttpNodeListManifestFactory.h"

#include <utility>

#include "manifest/ManifestUrl.h"
#include "manifest/XmlHttpManifestSource.h"

namespace vrexa {

std::shared_ptr<ManifestSource> XmlHttpNodeListManifestFactory::CreateSource(const std::string& id) {
    return CreateSource(id, nullptr);
}

std::shared_ptr<HttpManifestSource> XmlHttpNodeListManifestFactory::CreateSource(
    const std::string& id, std::shared_ptr<http::Session> session) {
    return GetFetch().MakeSource<XmlHttpManifestSource>(BuildUrl(id), std::move(session));
}

std::string XmlHttpNodeListManifestFactory::BuildUrl(const std::string& id) { return NodeListUrl(GetHost(), id); }

}  // namespace vrexa
