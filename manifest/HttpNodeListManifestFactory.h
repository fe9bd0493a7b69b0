#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/NodeListManifestFactory.h"

namespace vrexa {

namespace http {
class RequestFactory;
class Session;
}  // namespace http

class HttpManifestSource;

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
    http::RequestFactory& GetRequestFactory() const { return requestFactory_; }
    std::int32_t GetConnectTimeout() const { return connectTimeout_; }
    std::int32_t GetTimeout() const { return timeout_; }

private:
    const std::string host_;
    http::RequestFactory& requestFactory_;
    const std::int32_t connectTimeout_;
    const std::int32_t timeout_;
};

}  // namespace vrexa
