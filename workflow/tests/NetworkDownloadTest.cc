// A package published with the publisher and served by the local download
// network's nginx nodes, downloaded by the file works.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include "http/RateLimiter.h"
#include "manifest/StandardNodeManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "tests/support/TestFolder.h"
#include "tests/support/network/LocalNetwork.h"
#include "workflow/TransferMultipleFilesWork.h"
#include "workflow/tests/DownloadHarness.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;

TEST(NetworkDownloadTest, APublishedPackageArrivesBitIdenticalFromNginxNodes) {
    const testsupport::TestFolder folder;
    const fs::path root = folder.Path();
    std::mt19937 random(11);
    const std::map<std::string, std::size_t> sizes = {
        {"setup", 70000}, {"a b.dat", 150001}, {"sub/\xC3\xA5.txt", 9000}, {"zero", 0}};
    std::map<std::string, std::string> files;
    for (const auto& [path, size] : sizes) {
        std::string data(size, '\0');
        for (char& c : data) {
            c = static_cast<char>(random());
        }
        fs::create_directories((root / "source" / path).parent_path());
        std::ofstream(root / "source" / path, std::ios::binary) << data;
        files[path] = data;
    }
    const auto published = testsupport::RunPublisher({"--partner", "p1", "--package", "k1", "--version", "v1", "--name",
                                                      "Sample", "--run", "setup", "--chunk-size", "16384",
                                                      (root / "source").string(), (root / "tree").string()});
    ASSERT_EQ(published.exitCode, 0) << published.err;
    testsupport::LocalNetworkOptions options;
    options.tree = root / "tree";
    options.nodes = 3;
    options.partners = {"p1"};
    testsupport::LocalNetwork network(options);

    // Unlimited, and again under a rate limit shared by every chunk request:
    // the limit must hold bytes back, never lose, repeat or misplace them.
    std::uint64_t total = 0;
    for (const auto& [path, data] : files)
        total += data.size();
    for (const bool limited : {false, true}) {
        SCOPED_TRACE(limited ? "limited" : "unlimited");
        http::RateLimiter limiter(2'000'000);
        auto transfer = std::make_shared<downloadtest::DownloadTransfer>();
        boost::property_tree::ptree tree;
        boost::property_tree::read_xml((root / "tree/manifests/k1/current.xml").string(), tree);
        auto package = std::make_shared<StandardPackageManifest>();
        package->Read(tree);
        transfer->package_ = package;
        NodeListManifest::Nodes nodes;
        for (const auto& node : network.Nodes()) {
            nodes.push_back(std::make_shared<StandardNodeManifest>(node.id, node.host, node.path));
        }
        transfer->nodes_ = std::make_shared<downloadtest::FixedNodes>(nodes);
        const fs::path dest = root / (limited ? "limited" : "dest");
        fs::create_directories(dest);
        transfer->Params().destPath = dest.string();
        if (limited) transfer->GetBehavior().rateLimiter = &limiter;
        transfer->Finish();

        const auto outcome = downloadtest::RunTree(std::make_shared<TransferMultipleFilesWork>(transfer), 4, 4);
        ASSERT_TRUE(outcome.finished);
        ASSERT_EQ(outcome.status.result, WorkResult::Success)
            << (outcome.status.data ? outcome.status.data->ToString() : std::string());
        for (const auto& [path, data] : files) {
            EXPECT_TRUE(downloadtest::ReadFile(dest / path) == data) << path;
        }
        EXPECT_EQ(limiter.GetPassed(), limited ? total : 0u);
    }
}

}  // namespace
}  // namespace vrexa
