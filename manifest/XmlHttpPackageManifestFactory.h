#pragma once

#include "manifest/HttpPackageManifestFactory.h"

namespace vrexa {

// Package manifests as XML documents at "/manifests/" + package id +
// "/current.xml" (the current version) or "/manifests/" + package id + "/" +
// version id + ".xml".
class XmlHttpPackageManifestFactory : public HttpPackageManifestFactory {
public:
    using HttpPackageManifestFactory::HttpPackageManifestFactory;

    std::shared_ptr<ManifestSource> CreateSource(const std::string& id) override;
    std::shared_ptr<HttpManifestSource> CreateSource(const std::string& id,
                                                     std::shared_ptr<http::Session> session) override;
    std::string BuildUrl(const std::string& id) override;
};

}  // namespace vrexa
