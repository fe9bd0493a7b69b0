#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "file/posix/FilesystemImpl.h"
#include "http/CurlRequestFactory.h"
#include "manifest/JsonHttpGeolocationManifestFactory.h"
#include "manifest/XmlHttpNodeListManifestFactory.h"
#include "manifest/XmlHttpPackageManifestFactory.h"
#include "optimizer/ProportionalGamblingTransferOptimizer.h"
#include "tests/support/TestFolder.h"
#include "work/AsioWorkManager.h"
#include "work/TransferWorkflowFactory.h"
#include "work/Workflow.h"
#include "workflow/tests/TestPackages.h"
#include "workflow/tests/TestTransfer.h"

namespace vrexa::testing {

// Writes files under folder, creating their folders.
void WriteFiles(const std::filesystem::path& folder, const std::vector<TestFile>& files);
std::string ReadFile(const std::filesystem::path& path);

// Publishes files as version v1 of package k1 for partner p1 (run file and
// chunk size as given) into tree, with the node list naming nodeHosts
// ("127.0.0.1:PORT"); extra are further publisher options.
void Publish(const std::filesystem::path& tree, const std::vector<TestFile>& files, const std::string& run,
             std::uint32_t chunkSize, const std::vector<std::string>& nodeHosts,
             const std::vector<std::string>& extra = {});

// The engine's real components for running transfer workflows against local
// servers: HTTP requests without proxy, the file system, the manifest
// factories, the optimizer and a transfer work manager.
class WorkflowHarness {
public:
    WorkflowHarness(const std::string& manifestHost, const std::string& geolocationUrl,
                    TransferSettings settings = TransferSettings());
    ~WorkflowHarness();

    // A transfer of package k1 of partner p1 in version, into destPath.
    std::shared_ptr<TestTransfer> NewTransfer(const std::string& version, const std::string& destPath);

    // Runs the factory's workflow for transfer until the root reports or the
    // workflow suspends itself; the workflow is returned for further steps.
    std::shared_ptr<Workflow> Run(TransferWorkflowFactory& factory, const std::shared_ptr<TestTransfer>& transfer);

    const TransferSettings& Settings() const { return settings_; }

private:
    class DirectProxies : public http::ProxyFactory {
    public:
        std::shared_ptr<http::Proxy> Create() override { return std::make_shared<http::EmptyProxy>(); }
    };

    TransferSettings settings_;
    DirectProxies proxies_;
    http::CurlRequestFactory requests_{proxies_};
    file::posix::FilesystemImpl filesystem_;
    XmlHttpPackageManifestFactory packages_;
    XmlHttpNodeListManifestFactory nodeLists_;
    JsonHttpGeolocationManifestFactory geolocations_;
    ProportionalGamblingTransferOptimizer optimizer_;
    std::unique_ptr<AsioWorkManager> workManager_;
};

}  // namespace vrexa::testing
