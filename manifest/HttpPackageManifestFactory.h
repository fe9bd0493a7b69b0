#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/HttpManifestSource.h"
#include "manifest/PackageManifestFactory.h"

namespace vrexa {

// Package manifests from the manifest cache host over HTTP. Holds no mutable
// state, so one instance serves every transfer at once.
class HttpPackageManifestFactory : public PackageManifestFactory {
public:
    HttpPackageManifestFactory(std::string host, http::RequestFactory& requestFactory, std::int32_t connectTimeout,
                               std::int32_t timeout);
    HttpPackageManifestFactory(const HttpPackageManifestFactory&) = delete;
    HttpPackageManifestFactory& operator=(const HttpPackageManifestFactory&) = delete;

    using PackageManifestFactory::CreateSource;
    using PackageManifestFactory::GetManifest;

    // Fetched through session's pooled requests; a null session makes a
    // standalone request.
    virtual std::shared_ptr<PackageManifest> GetManifest(const std::string& id, std::shared_ptr<http::Session> session);
    // A source the caller can abort while another thread fetches from it.
    virtual std::shared_ptr<HttpManifestSource> CreateSource(const std::string& id,
                                                             std::shared_ptr<http::Session> session) = 0;
    virtual std::string BuildUrl(const std::string& id) = 0;

    // The package id (id up to its first "/") must be the manifest's id
    // exactly. When id names a version after the "/", the manifest must be of
    // that version too: a server answering a fixed version with another one
    // is refused like one answering with another package.
    bool Validate(const PackageManifest& manifest, const std::string& id) override;

protected:
    const std::string& GetHost() const { return host_; }
    const HttpFetchSettings& GetFetch() const { return fetch_; }

private:
    const std::string host_;
    const HttpFetchSettings fetch_;
};

}  // namespace vrexa
