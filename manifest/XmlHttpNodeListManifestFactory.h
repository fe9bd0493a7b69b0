#pragma once

#include "manifest/HttpNodeListManifestFactory.h"

namespace vrexa {

// Node lists as XML documents at "/nodes/" + partner id + ".xml".
class XmlHttpNodeListManifestFactory : public HttpNodeListManifestFactory {
public:
    using HttpNodeListManifestFactory::HttpNodeListManifestFactory;

    std::shared_ptr<ManifestSource> CreateSource(const std::string& id) override;
    std::shared_ptr<HttpManifestSource> CreateSource(const std::string& id,
                                                     std::shared_ptr<http::Session> session) override;
    std::string BuildUrl(const std::string& id) override;
};

}  // namespace vrexa
