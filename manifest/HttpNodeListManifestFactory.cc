#include "manifest/HttpNodeListManifestFactory.h"

#include <utility>

#include "manifest/HttpManifestSource.h"

namespace vrexa {

HttpNodeListManifestFactory::HttpNodeListManifestFactory(std::string host, http::RequestFactory& requestFactory,
                                                         std::int32_t connectTimeout, std::int32_t timeout)
    : host_(std::move(host)), requestFactory_(requestFactory), connectTimeout_(connectTimeout), timeout_(timeout) {}

std::shared_ptr<NodeListManifest> HttpNodeListManifestFactory::GetManifest(const std::string& id,
                                                                           std::shared_ptr<http::Session> session) {
    return LoadManifest(CreateSource(id, std::move(session)), id);
}

}  // namespace vrexa
