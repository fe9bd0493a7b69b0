#include "manifest/HttpNodeListManifestFactory.h"

#include <utility>

namespace vrexa {

HttpNodeListManifestFactory::HttpNodeListManifestFactory(std::string host, http::RequestFactory& requestFactory,
                                                         std::int32_t connectTimeout, std::int32_t timeout)
    : host_(std::move(host)), fetch_(requestFactory, connectTimeout, timeout, kNodeListLimits) {}

std::shared_ptr<NodeListManifest> HttpNodeListManifestFactory::GetManifest(const std::string& id,
                                                                           std::shared_ptr<http::Session> session) {
    return LoadManifest(CreateSource(id, std::move(session)), id);
}

}  // namespace vrexa
