// The published tree as the engine fetches it: manifests, node list and
// geolocation through the engine's HTTP requests and manifest readers, every
// chunk by byte range from every node, checked with the engine's checksum.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include <Poco/URI.h>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "http/CurlRequestFactory.h"
#include "http/StringstreamWriter.h"
#include "manifest/ChunkChecksum.h"
#include "manifest/StandardGeolocationManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "tests/support/TestFolder.h"
#include "tests/support/network/LocalNetwork.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using testsupport::LocalNetwork;
using testsupport::RunPublisher;

class DirectProxies : public http::ProxyFactory {
public:
    std::shared_ptr<http::Proxy> Create() override { return std::make_shared<http::EmptyProxy>(); }
};

struct Fetched {
    http::RequestStatus status;
    std::string body;
};

class NetworkFetchTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kChunk = 1000;

    void SetUp() override {
        std::mt19937 random(7);
        auto bytes = [&](std::size_t size) {
            std::string data(size, '\0');
            for (char& c : data)
                c = static_cast<char>(random());
            return data;
        };
        files_ = {{"bin/run.sh", bytes(2500)}, {"assets/a b.dat", bytes(kChunk)}, {"empty", ""}};
        for (const auto& [path, data] : files_) {
            fs::create_directories((root_ / "source" / path).parent_path());
            std::ofstream(root_ / "source" / path, std::ios::binary) << data;
        }
        auto published = RunPublisher({"--partner", "p1", "--package", "k1", "--version", "v1", "--name", "Sample",
                                       "--run", "bin/run.sh", "--chunk-size", std::to_string(kChunk),
                                       (root_ / "source").string(), (root_ / "tree").string()});
        ASSERT_EQ(published.exitCode, 0) << published.err;
        testsupport::LocalNetworkOptions options;
        options.tree = root_ / "tree";
        options.nodes = 3;
        options.partners = {"p1"};
        options.country = "NO";
        network_ = std::make_unique<LocalNetwork>(options);
    }

    void TearDown() override { network_.reset(); }

    Fetched Fetch(http::RequestParams params) {
        std::ostringstream body;
        http::StringstreamWriter writer(&body);
        params.writer = &writer;
        params.timeout = 30;
        auto request = factory_.CreateRequest(params, nullptr);
        Fetched fetched{request->Perform(), {}};
        fetched.body = body.str();
        return fetched;
    }

    Fetched Get(const std::string& url) { return Fetch(http::RequestParams(url, nullptr)); }

    template <typename Manifest>
    Manifest GetXml(const std::string& url) {
        Fetched fetched = Get(url);
        EXPECT_EQ(fetched.status.state, http::State::Succeeded) << url;
        std::istringstream in(fetched.body);
        boost::property_tree::ptree tree;
        boost::property_tree::read_xml(in, tree);
        Manifest manifest;
        manifest.Read(tree);
        return manifest;
    }

    // A node's URL of a file: its path, then partner, package and version,
    // then the file path, each resolved as a relative reference.
    static std::string ChunkUrl(const NodeManifest& node, const std::string& path) {
        Poco::URI uri("http", node.GetHost(), node.GetPath());
        for (const std::string& part : {std::string("p1/"), std::string("k1/"), std::string("v1/"), path}) {
            uri.resolve(Poco::URI(part));
        }
        return uri.toString();
    }

    testsupport::TestFolder folder_;
    const fs::path root_{folder_.Path()};
    std::map<std::string, std::string> files_;
    std::unique_ptr<LocalNetwork> network_;
    DirectProxies proxies_;
    http::CurlRequestFactory factory_{proxies_};
};

TEST_F(NetworkFetchTest, EveryNodeServesEveryChunkTheManifestDescribes) {
    auto manifest = GetXml<StandardPackageManifest>("http://" + network_->ManifestHost() + "/manifests/k1/current.xml");
    ASSERT_EQ(manifest.GetFiles().size(), files_.size());
    ASSERT_NE(manifest.GetRunFile(), nullptr);
    EXPECT_EQ(manifest.GetRunFile()->GetPath(), "bin/run.sh");
    auto nodes = GetXml<StandardNodeListManifest>("http://" + network_->ManifestHost() + "/nodes/p1.xml");
    ASSERT_EQ(nodes.GetNodes().size(), network_->Nodes().size());

    for (const auto& node : nodes.GetNodes()) {
        for (const auto& file : manifest.GetFiles()) {
            const std::string& data = files_.at(file->GetPath());
            EXPECT_EQ(file->GetSize(), data.size());
            for (std::uint32_t i = 0; i < file->GetChunkCount(); ++i) {
                SCOPED_TRACE(node->GetHost() + " " + file->GetPath() + " chunk " + std::to_string(i));
                http::RequestParams params(ChunkUrl(*node, file->GetPath()), nullptr);
                params.rangeFirst = std::uint64_t{i} * file->GetChunkSize();
                params.rangeLast =
                    std::min<std::uint64_t>(params.rangeFirst + file->GetChunkSize(), file->GetSize()) - 1;
                Fetched chunk = Fetch(params);
                ASSERT_EQ(chunk.status.state, http::State::Succeeded);
                EXPECT_EQ(chunk.status.responseCode, 206);
                EXPECT_EQ(chunk.body, data.substr(params.rangeFirst, params.rangeLast - params.rangeFirst + 1));
                EXPECT_EQ(ChunkChecksum(chunk.body.data(), chunk.body.size()), file->GetChecksums()[i]);
            }
        }
    }
}

TEST_F(NetworkFetchTest, MissingDocumentsAnswerAsClientErrors) {
    for (const std::string path : {"/manifests/k1/v9.xml", "/manifests/nothing/current.xml", "/nodes/p2.xml"}) {
        SCOPED_TRACE(path);
        Fetched fetched = Get("http://" + network_->ManifestHost() + path);
        EXPECT_EQ(fetched.status.state, http::State::ClientError);
        EXPECT_EQ(fetched.status.responseCode, 404);
    }
}

TEST_F(NetworkFetchTest, GeolocationReadsAsTheConfiguredCountry) {
    auto read = [&] {
        Fetched fetched = Get(network_->GeolocationUrl());
        EXPECT_EQ(fetched.status.state, http::State::Succeeded);
        std::istringstream in(fetched.body);
        boost::property_tree::ptree tree;
        boost::property_tree::read_json(in, tree);
        StandardGeolocationManifest geolocation;
        geolocation.Read(tree);
        return geolocation.GetCountryCode();
    };
    EXPECT_EQ(read(), "NO");
    network_->SetCountry("DK");
    EXPECT_EQ(read(), "DK");
}

TEST_F(NetworkFetchTest, AnalyticsPostsAreRecordedPerEndpoint) {
    for (const auto& [url, body] : {std::pair{network_->TransferAnalyticsUrl(), std::string(R"({"tid":"t1"})")},
                                    std::pair{network_->EventsAnalyticsUrl(), std::string(R"([{"pid":"p1"}])")}}) {
        http::RequestParams params(url, nullptr);
        params.method = http::RequestMethod::Post;
        params.contentType = "application/json";
        params.body = body;
        EXPECT_EQ(Fetch(params).status.state, http::State::Succeeded);
    }
    auto records = network_->AnalyticsRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].endpoint, "transfer");
    EXPECT_EQ(records[0].body, R"({"tid":"t1"})");
    EXPECT_EQ(records[0].contentType, "application/json");
    EXPECT_EQ(records[1].endpoint, "events");
    EXPECT_EQ(records[1].body, R"([{"pid":"p1"}])");
}

TEST_F(NetworkFetchTest, AServedNodeListCanAddATestsOwnNode) {
    auto nodes = network_->Nodes();
    nodes.push_back({"extra", "127.0.0.1:9", "/elsewhere/", false});
    network_->ServeNodeList("p1", nodes);
    auto list = GetXml<StandardNodeListManifest>("http://" + network_->ManifestHost() + "/nodes/p1.xml");
    ASSERT_EQ(list.GetNodes().size(), 4u);
    EXPECT_EQ(list.GetNodes()[3]->GetHost(), "127.0.0.1:9");
    EXPECT_EQ(list.GetNodes()[3]->GetPath(), "/elsewhere/");
}

}  // namespace
}  // namespace vrexa
