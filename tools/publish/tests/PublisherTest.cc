#include "tools/publish/Publisher.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include <boost/crc.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "manifest/PackageVersionManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"

namespace vrexa::publish {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

// Computed apart from the publisher's own checksum routine.
std::vector<std::uint32_t> ExpectedChecksums(const std::string& bytes, std::size_t chunkSize) {
    std::vector<std::uint32_t> sums;
    for (std::size_t at = 0; at < bytes.size(); at += chunkSize) {
        boost::crc_32_type crc;
        crc.process_bytes(bytes.data() + at, std::min(chunkSize, bytes.size() - at));
        sums.push_back(crc.checksum());
    }
    return sums;
}

// Reads a published document through the engine's own manifest class.
template <typename Manifest>
Manifest ReadXml(const fs::path& path) {
    boost::property_tree::ptree tree;
    boost::property_tree::read_xml(path.string(), tree);
    Manifest manifest;
    manifest.Read(tree);
    return manifest;
}

StandardPackageManifest ReadPackage(const fs::path& path) { return ReadXml<StandardPackageManifest>(path); }
StandardNodeListManifest ReadNodes(const fs::path& path) { return ReadXml<StandardNodeListManifest>(path); }

// Every entry under a folder with its content ("<dir>" for folders; the size
// for large files), to show that a refused publication changed nothing.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    if (!fs::exists(root)) {
        return entries;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string& described = entries[entry.path().lexically_relative(root).string()];
        if (entry.is_directory()) {
            described = "<dir>";
        } else if (entry.file_size() > 1024 * 1024) {
            described = "<" + std::to_string(entry.file_size()) + " bytes>";
        } else {
            described = ReadFile(entry.path());
        }
    }
    return entries;
}

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vrexa-publish-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        source_ = root_ / "source";
        output_ = root_ / "output";
        fs::create_directories(source_);
    }
    void TearDown() override { fs::remove_all(root_); }

    PublishOptions Options(const std::string& version = "v1") const {
        PublishOptions options;
        options.partnerId = "p1";
        options.packageId = "k1";
        options.versionId = version;
        options.name = "Sample Package";
        options.sourceDir = source_;
        options.outputDir = output_;
        return options;
    }

    fs::path root_;
    fs::path source_;
    fs::path output_;
};

TEST_F(PublisherTest, PublishesManifestFilesAndNodeListTheEngineReads) {
    const std::string a = Bytes(10, 1), b = Bytes(8, 2);
    WriteFile(source_ / "a.txt", a);
    WriteFile(source_ / "sub/dir/b.bin", b);
    WriteFile(source_ / "empty.dat", "");
    PublishOptions options = Options();
    options.chunkSize = 4;
    options.run = "sub/dir/b.bin";
    options.nodes = {{"n1", "127.0.0.1:8001", "/packages/", 1}, {"n2", "cdn.example", "/files/", 3}};

    PublishResult result = Publish(options);
    EXPECT_EQ(result.totalBytes, 18u);

    StandardPackageManifest manifest = ReadPackage(output_ / "manifests/k1/v1.xml");
    EXPECT_EQ(manifest.GetId(), "k1");
    EXPECT_EQ(manifest.GetName(), "Sample Package");
    EXPECT_EQ(manifest.GetPartnerId(), "p1");
    EXPECT_EQ(manifest.GetVersionId(), "v1");
    EXPECT_TRUE(manifest.IsActive());
    ASSERT_NE(manifest.GetRunFile(), nullptr);
    EXPECT_EQ(manifest.GetRunFile()->GetPath(), "sub/dir/b.bin");
    ASSERT_EQ(manifest.GetFiles().size(), 3u);
    const std::map<std::string, const std::string*> contents = {{"a.txt", &a}, {"sub/dir/b.bin", &b}};
    std::vector<std::string> paths;
    for (const auto& file : manifest.GetFiles()) {
        paths.push_back(file->GetPath());
        EXPECT_EQ(file->GetChunkSize(), 4u);
        const std::string published = ReadFile(output_ / "packages/p1/k1/v1" / file->GetPath());
        EXPECT_EQ(file->GetSize(), published.size());
        EXPECT_EQ(file->GetChecksums(), ExpectedChecksums(published, 4)) << file->GetPath();
        auto source = contents.find(file->GetPath());
        EXPECT_EQ(published, source == contents.end() ? std::string() : *source->second);
    }
    EXPECT_THAT(paths, ElementsAre("a.txt", "empty.dat", "sub/dir/b.bin"));
    EXPECT_EQ(ReadFile(output_ / "manifests/k1/current.xml"), ReadFile(output_ / "manifests/k1/v1.xml"));

    StandardNodeListManifest nodes = ReadNodes(output_ / "nodes/p1.xml");
    ASSERT_EQ(nodes.GetNodes().size(), 2u);
    EXPECT_EQ(nodes.GetNodes()[0]->GetNodeId(), "n1");
    EXPECT_EQ(nodes.GetNodes()[0]->GetHost(), "127.0.0.1:8001");
    EXPECT_EQ(nodes.GetNodes()[0]->GetPath(), "/packages/");
    EXPECT_EQ(nodes.GetNodes()[1]->GetHost(), "cdn.example");
    EXPECT_EQ(nodes.GetNodes()[1]->GetPath(), "/files/");
    EXPECT_EQ(nodes.GetNodes()[1]->GetWeight(), 3u);

    // Only the published layout remains; the temporary folder is gone.
    std::vector<std::string> top;
    for (const auto& entry : fs::directory_iterator(output_)) {
        top.push_back(entry.path().filename().string());
    }
    std::sort(top.begin(), top.end());
    EXPECT_THAT(top, ElementsAre("manifests", "nodes", "packages"));
}

TEST_F(PublisherTest, ChecksumsSpanReadsWhenChunksAreLargerThanTheCopyBuffer) {
    const std::size_t chunk = 1536 * 1024;  // one and a half copy buffers
    const std::string big = Bytes(chunk * 2 + 12345, 3);
    WriteFile(source_ / "big.bin", big);
    PublishOptions options = Options();
    options.chunkSize = chunk;
    Publish(options);

    StandardPackageManifest manifest = ReadPackage(output_ / "manifests/k1/v1.xml");
    ASSERT_EQ(manifest.GetFiles().size(), 1u);
    EXPECT_EQ(manifest.GetFiles()[0]->GetChecksums(), ExpectedChecksums(big, chunk));
    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1/big.bin"), big);
}

TEST_F(PublisherTest, WritesPolicyCountriesAndActiveFlag) {
    WriteFile(source_ / "a.txt", "x");
    PublishOptions options = Options();
    options.active = false;
    options.policy = CountryPolicy::Whitelist;
    options.countries = {"se", "NO", "SE"};
    Publish(options);

    StandardPackageManifest manifest = ReadPackage(output_ / "manifests/k1/v1.xml");
    EXPECT_FALSE(manifest.IsActive());
    ASSERT_NE(manifest.GetVersion(), nullptr);
    EXPECT_EQ(manifest.GetVersion()->GetPolicy(), PackageVersionManifest::Policy::Whitelist);
    EXPECT_THAT(manifest.GetVersion()->GetCountryCodes(), ElementsAre("SE", "NO"));
    EXPECT_TRUE(manifest.IsCountryAllowed("SE"));
    EXPECT_FALSE(manifest.IsCountryAllowed("DK"));
}

TEST_F(PublisherTest, NamesAndIdentifiersWithMarkupSurviveTheDocument) {
    WriteFile(source_ / "dir with space/ä & <b>.txt", "x");
    PublishOptions options = Options();
    options.name = "  Tom & Jerry <\"Deluxe\"> '2' ";
    options.run = "dir with space/ä & <b>.txt";
    Publish(options);

    StandardPackageManifest manifest = ReadPackage(output_ / "manifests/k1/v1.xml");
    EXPECT_EQ(manifest.GetName(), options.name);
    EXPECT_EQ(manifest.GetRun(), options.run);
    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1/dir with space/ä & <b>.txt"), "x");
}

TEST_F(PublisherTest, CurrentManifestFollowsTheLatestVersionUnlessToldNot) {
    WriteFile(source_ / "a.txt", "one");
    Publish(Options("v1"));
    WriteFile(source_ / "a.txt", "two");
    PublishOptions second = Options("v2");
    second.writeCurrent = false;
    Publish(second);
    EXPECT_EQ(ReadPackage(output_ / "manifests/k1/current.xml").GetVersionId(), "v1");
    EXPECT_EQ(ReadPackage(output_ / "manifests/k1/v2.xml").GetVersionId(), "v2");

    Publish(Options("v3"));
    EXPECT_EQ(ReadPackage(output_ / "manifests/k1/current.xml").GetVersionId(), "v3");
    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1/a.txt"), "one");
    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v2/a.txt"), "two");
}

TEST_F(PublisherTest, NodeListUpdateReplacesNodesOfTheSameIdAndKeepsTheOthers) {
    WriteFile(output_ / "nodes/p1.xml",
              "<?xml version=\"1.0\"?>\n"
              "<ArrayOfNodeInfo xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
              "<NodeInfo><NodeId>n1</NodeId><Host>old1</Host></NodeInfo>"
              "<NodeInfo><NodeId>n2</NodeId><Host>old2</Host><Weight>7</Weight></NodeInfo>"
              "</ArrayOfNodeInfo>\n");
    PublishOptions options = Options();
    options.nodesOnly = true;
    options.sourceDir.clear();
    options.nodes = {{"n2", "new2:81", "/p/", 2}, {"n3", "new3", "/packages/", 1}};
    Publish(options);

    StandardNodeListManifest nodes = ReadNodes(output_ / "nodes/p1.xml");
    ASSERT_EQ(nodes.GetNodes().size(), 3u);
    EXPECT_EQ(nodes.GetNodes()[0]->GetHost(), "old1");
    EXPECT_EQ(nodes.GetNodes()[1]->GetHost(), "new2:81");
    EXPECT_EQ(nodes.GetNodes()[1]->GetWeight(), 2u);
    EXPECT_EQ(nodes.GetNodes()[2]->GetNodeId(), "n3");
    EXPECT_THAT(ReadFile(output_ / "nodes/p1.xml"), HasSubstr("xmlns:xsi="));
    // A node list alone publishes no package.
    EXPECT_FALSE(fs::exists(output_ / "manifests"));
    EXPECT_FALSE(fs::exists(output_ / "packages"));
}

TEST_F(PublisherTest, NodeListWithAttributesIsUpdatedByNodeId) {
    // Attributes read exactly like child elements.
    WriteFile(output_ / "nodes/p1.xml",
              "<ArrayOfNodeInfo><NodeInfo NodeId=\"n1\" Host=\"old1\"/>"
              "<NodeInfo NodeId=\"n2\" Host=\"old2\" Path=\"cdn\"/></ArrayOfNodeInfo>");
    PublishOptions options = Options();
    options.nodesOnly = true;
    options.nodes = {{"n1", "new1", "/packages/", 4}};
    Publish(options);

    boost::property_tree::ptree tree;
    boost::property_tree::read_xml((output_ / "nodes/p1.xml").string(), tree);
    std::vector<std::string> ids, hosts;
    for (const auto& [key, info] : tree.get_child("ArrayOfNodeInfo")) {
        ids.push_back(info.get("NodeId", info.get("<xmlattr>.NodeId", std::string())));
        hosts.push_back(info.get("Host", info.get("<xmlattr>.Host", std::string())));
    }
    EXPECT_THAT(ids, ElementsAre("n1", "n2"));
    EXPECT_THAT(hosts, ElementsAre("new1", "old2"));
}

TEST_F(PublisherTest, ReplaceSwapsTheWholeVersion) {
    WriteFile(source_ / "a.txt", "old");
    WriteFile(source_ / "stale.txt", "stale");
    Publish(Options());
    fs::remove(source_ / "stale.txt");
    WriteFile(source_ / "a.txt", "new");
    PublishOptions again = Options();
    again.replace = true;
    Publish(again);

    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1/a.txt"), "new");
    EXPECT_FALSE(fs::exists(output_ / "packages/p1/k1/v1/stale.txt"));
    EXPECT_EQ(ReadPackage(output_ / "manifests/k1/v1.xml").GetFiles().size(), 1u);
}

TEST_F(PublisherTest, AFailureWhileMovingIntoPlaceRollsEverythingBack) {
    WriteFile(source_ / "a.txt", "x");
    fs::create_directories(output_);
    // A file where the manifests folder belongs: the files move into place,
    // then the manifest cannot follow.
    WriteFile(output_ / "manifests", "in the way");
    const auto before = Snapshot(output_);
    EXPECT_THROW(Publish(Options()), PublishError);
    EXPECT_EQ(Snapshot(output_), before);
}

struct RefusalCase {
    const char* name;
    std::function<void(PublishOptions&, const fs::path& source, const fs::path& output)> prepare;
    const char* message;
};

TEST_F(PublisherTest, RefusesWhatItCannotPublishAndLeavesTheOutputUntouched) {
    const RefusalCase cases[] = {
        {"run file missing", [](auto& o, auto&, auto&) { o.run = "setup.exe"; }, "is not among the files"},
        {"run file differs in case", [](auto& o, auto&, auto&) { o.run = "A.TXT"; }, "is not among the files"},
        {"run file with a leading slash", [](auto& o, auto&, auto&) { o.run = "/a.txt"; }, "is not among the files"},
        {"partner id climbing out", [](auto& o, auto&, auto&) { o.partnerId = ".."; }, "outside its place"},
        {"package id with a separator", [](auto& o, auto&, auto&) { o.packageId = "k/x"; }, "cannot be part"},
        {"version id placeholder", [](auto& o, auto&, auto&) { o.versionId = "?"; }, "cannot be part"},
        {"version id with a scheme", [](auto& o, auto&, auto&) { o.versionId = "v:1"; }, "cannot be part"},
        {"version id current", [](auto& o, auto&, auto&) { o.versionId = "current"; }, "reserved"},
        {"empty name", [](auto& o, auto&, auto&) { o.name.clear(); }, "name must not be empty"},
        {"file name with a query mark", [](auto&, auto& s, auto&) { WriteFile(s / "what?.txt", "q"); },
         "cannot be part of a download path"},
        {"file name with a backslash", [](auto&, auto& s, auto&) { WriteFile(s / "a\\..\\b", "q"); },
         "cannot be part of a download path"},
        {"files differing in case", [](auto&, auto& s, auto&) { WriteFile(s / "A.txt", "q"); }, "only in case"},
        {"file too large for its chunk size",
         [](auto& o, auto& s, auto&) {
             o.chunkSize = 1;
             std::ofstream(s / "huge.bin").close();
             fs::resize_file(s / "huge.bin", 0x20000000);  // sparse
         },
         "at least 2"},
        {"link to a folder", [](auto&, auto& s, auto&) { fs::create_directory_symlink(s / "..", s / "up"); },
         "does not lead to a file"},
        {"whitelist without countries", [](auto& o, auto&, auto&) { o.policy = CountryPolicy::Whitelist; },
         "at least one --country"},
        {"countries without a policy", [](auto& o, auto&, auto&) { o.countries = {"SE"}; }, "--country needs"},
        {"country code of three letters",
         [](auto& o, auto&, auto&) {
             o.policy = CountryPolicy::Blacklist;
             o.countries = {"SWE"};
         },
         "not two letters"},
        {"version already published", [](auto& o, auto&, auto&) { o.versionId = "v0"; }, "already published"},
        {"node given twice",
         [](auto& o, auto&, auto&) {
             o.nodes = {{"n", "h1", "/packages/", 1}, {"n", "h2", "/packages/", 1}};
         },
         "more than once"},
        {"existing node list is not XML",
         [](auto& o, auto&, auto& out) {
             WriteFile(out / "nodes/p1.xml", "<ArrayOfNodeInfo><NodeInfo>");
             o.nodes = {{"n", "h", "/packages/", 1}};
         },
         "cannot be read"},
        {"existing node list is another document",
         [](auto& o, auto&, auto& out) {
             WriteFile(out / "nodes/p1.xml", "<package/>");
             o.nodes = {{"n", "h", "/packages/", 1}};
         },
         "is not a node list"},
        {"existing node list with a broken node",
         [](auto& o, auto&, auto& out) {
             WriteFile(out / "nodes/p1.xml",
                       "<ArrayOfNodeInfo><NodeInfo><NodeId>x</NodeId></NodeInfo></ArrayOfNodeInfo>");
             o.nodes = {{"n", "h", "/packages/", 1}};
         },
         "does not read back"},
        {"output inside the source", [](auto& o, auto& s, auto&) { o.outputDir = s / "out"; }, "publish itself"},
        {"source missing", [](auto& o, auto& s, auto&) { o.sourceDir = s / "missing"; }, "is not a folder"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        fs::create_directories(source_);
        WriteFile(source_ / "a.txt", "a");
        Publish(Options("v0"));
        PublishOptions options = Options();
        c.prepare(options, source_, output_);
        const auto before = Snapshot(output_);
        const auto sourceBefore = Snapshot(source_);
        try {
            Publish(options);
            ADD_FAILURE() << "published";
        } catch (const PublishError& error) {
            EXPECT_THAT(error.what(), HasSubstr(c.message));
        }
        EXPECT_EQ(Snapshot(output_), before);
        EXPECT_EQ(Snapshot(source_), sourceBefore);
    }
}

TEST_F(PublisherTest, ARefusalCreatesNoOutputFolder) {
    WriteFile(source_ / "a.txt", "a");
    PublishOptions options = Options();
    options.outputDir = root_ / "new/output";
    options.run = "missing.exe";
    EXPECT_THROW(Publish(options), PublishError);
    EXPECT_FALSE(fs::exists(root_ / "new"));
}

TEST_F(PublisherTest, AnEmptySourceFolderIsRefused) {
    EXPECT_THROW(Publish(Options()), PublishError);
    EXPECT_FALSE(fs::exists(output_));
}

}  // namespace
}  // namespace vrexa::publish
