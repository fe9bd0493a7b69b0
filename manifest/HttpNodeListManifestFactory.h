#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/HttpManifestSource.h"
#include "manifest/NodeListManifestFactory.h"

namespace vrexa {

// Node lists from the manifest cache host over HTTP. Holds no mutable state.
class HttpNodeListManifestFactory : public NodeListManifestFactory {
public:
    HttpNodeListManifestFactory(std::string host, http::RequestFactory& requestFactory, std::int32_t connectTimeout,
                                std::int32_t timeout);
    HttpNodeListManifestFactory(const HttpNodeListManifestFactory&) = delete;
    HttpNodeListManifestFactory& operator=(const HttpNodeListManifestFactory&) = delete;

    using NodeListManifestFactory::CreateSource;
    using NodeListManifestFactory::GetManifest;

    // Fetched through session's pooled requests; a null session makes a
    // standalone request.
    virtual std::shared_ptr<NodeListManifest> GetManifest(const std::string& id,
                                                          std::shared_ptr<http::Session> session);
    // A source the caller can abort while another thread fetches from it.
    virtual std::shared_ptr<HttpManifestSource> CreateSource(const std::string& id,
                                                             std::shared_ptr<http::Session> session) = 0;
    virtual std::string BuildUrl(const std::string& id) = 0;

protected:
    const std::string& GetHost() const { return host_; }
    const HttpFetchSettings& GetFetch() const { return fetch_; }

private:
    const std::string host_;
    const HttpFetchSettings fetch_;
};

}  // namespace vrexa
