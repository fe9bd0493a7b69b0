#include "workflow/tests/WorkflowHarness.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/network/LocalNetwork.h"

namespace vrexa::testing {

namespace fs = std::filesystem;

void WriteFiles(const fs::path& folder, const std::vector<TestFile>& files) {
    for (const TestFile& file : files) {
        fs::create_directories((folder / file.path).parent_path());
        std::ofstream(folder / file.path, std::ios::binary) << file.bytes;
    }
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void Publish(const fs::path& tree, const std::vector<TestFile>& files, const std::string& run, std::uint32_t chunkSize,
             const std::vector<std::string>& nodeHosts, const std::vector<std::string>& extra) {
    const fs::path source = tree.parent_path() / (tree.filename().string() + "-source");
    fs::remove_all(source);
    fs::create_directories(source);
    WriteFiles(source, files);
    std::vector<std::string> args = {"--partner", "p1",     "--package",    "k1",           "--version",
                                     "v1",        "--name", "Test package", "--chunk-size", std::to_string(chunkSize)};
    if (!run.empty()) {
        args.insert(args.end(), {"--run", run});
    }
    for (std::size_t i = 0; i < nodeHosts.size(); ++i) {
        args.insert(args.end(), {"--node", "n" + std::to_string(i + 1) + "=" + nodeHosts[i]});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {source.string(), tree.string()});
    const testsupport::ProgramResult published = testsupport::RunPublisher(args);
    if (published.exitCode != 0) {
        throw std::runtime_error("publishing failed: " + published.err);
    }
}

WorkflowHarness::WorkflowHarness(const std::string& manifestHost, const std::string& geolocationUrl,
                                 TransferSettings settings)
    : settings_(std::move(settings)),
      packages_(manifestHost, requests_, settings_.manifestConnectTimeout, settings_.manifestTimeout),
      nodeLists_(manifestHost, requests_, settings_.manifestConnectTimeout, settings_.manifestTimeout),
      geolocations_(geolocationUrl, requests_, settings_.geolocationConnectTimeout, settings_.geolocationTimeout),
      optimizer_(settings_, 7),
      workManager_(std::make_unique<AsioWorkManager>(static_cast<unsigned>(settings_.transferThreads), false)) {
    settings_.manifestHost = manifestHost;
    settings_.geolocationUrl = geolocationUrl;
}

WorkflowHarness::~WorkflowHarness() { workManager_.reset(); }

std::shared_ptr<TestTransfer> WorkflowHarness::NewTransfer(const std::string& version, const std::string& destPath) {
    auto transfer = std::make_shared<TestTransfer>();
    transfer->Params().partnerId = "p1";
    transfer->Params().packageId = "k1";
    transfer->Params().versionId = version;
    transfer->Params().destPath = destPath;
    TransferBehavior& behavior = transfer->GetBehavior();
    static_cast<TransferSettings&>(behavior) = settings_;
    behavior.requestFactory = &requests_;
    behavior.filesystem = &filesystem_;
    behavior.packageManifestFactory = &packages_;
    behavior.nodeListManifestFactory = &nodeLists_;
    behavior.geolocationManifestFactory = &geolocations_;
    behavior.optimizer = &optimizer_;
    behavior.transferWorkManager = workManager_.get();
    return transfer;
}

std::shared_ptr<Workflow> WorkflowHarness::Run(TransferWorkflowFactory& factory,
                                               const std::shared_ptr<TestTransfer>& transfer) {
    std::shared_ptr<Workflow> workflow = factory.CreateWorkflow(transfer);
    workflow->AddRetryableErrorCallback(&transfer->GetRetryableErrorCallback());
    workflow->Start();
    if (!transfer->WaitForEnd()) {
        throw std::runtime_error("the workflow neither ended nor suspended in time");
    }
    return workflow;
}

}  // namespace vrexa::testing
