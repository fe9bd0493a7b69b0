#include "tools/publish/Publisher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include <boost/crc.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <gmock/gmock.h>
#include <openssl/sha.h>
#include <gtest/gtest.h>

#include "manifest/Minisign.h"
#include "manifest/PackageVersionManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "manifest/TrustedComment.h"
#include "tests/support/FinishesWithin.h"
#include "tests/support/ForgedChunk.h"
#include "tests/support/TestFolder.h"
#include "tools/publish/ManifestDocuments.h"

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

// Also apart from the publisher's own routine: the one-shot library call.
std::vector<Sha256Digest> ExpectedSha256s(const std::string& bytes, std::size_t chunkSize) {
    std::vector<Sha256Digest> digests;
    for (std::size_t at = 0; at < bytes.size(); at += chunkSize) {
        Sha256Digest digest{};
        SHA256(reinterpret_cast<const unsigned char*>(bytes.data()) + at, std::min(chunkSize, bytes.size() - at),
               digest.data());
        digests.push_back(digest);
    }
    return digests;
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

// Publishing is refused with a message that holds `message`, and the output
// folder stays exactly as it was.
void ExpectRefused(const PublishOptions& options, const std::string& message) {
    const auto before = Snapshot(options.outputDir);
    try {
        Publish(options);
        ADD_FAILURE() << "published";
    } catch (const PublishError& error) {
        EXPECT_THAT(error.what(), HasSubstr(message));
    }
    EXPECT_EQ(Snapshot(options.outputDir), before);
}

class PublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        source_ = root_ / "source";
        output_ = root_ / "output";
        fs::create_directories(source_);
    }

public:
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

    testsupport::TestFolder folder_;
    const fs::path root_{folder_.Path()};
    fs::path source_;
    fs::path output_;
};

struct RefusalCase {
    const char* name;
    std::function<void(PublishOptions&, const fs::path& source, const fs::path& output)> prepare;
    const char* message;
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
        EXPECT_EQ(file->GetSha256s(), ExpectedSha256s(published, 4)) << file->GetPath();
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
    EXPECT_EQ(manifest.GetFiles()[0]->GetSha256s(), ExpectedSha256s(big, chunk));
    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1/big.bin"), big);
}

// The manifest's JSON form carries the same text under the same keys: the
// engine reads the strong hashes back from it exactly, and a file of size 0
// has an empty list.
TEST_F(PublisherTest, StrongHashesRoundTripThroughTheJsonForm) {
    const std::string data = Bytes(10, 4);
    PublishedFile file{"a.bin", data.size(), ExpectedChecksums(data, 4), ExpectedSha256s(data, 4)};
    PublishedFile empty{"empty", 0, {}, {}};
    PublishOptions options = Options();
    options.chunkSize = 4;
    std::ostringstream json;
    boost::property_tree::write_json(json, PackageManifestTree(options, {file, empty}));
    EXPECT_THAT(json.str(), HasSubstr("\"sha256\": \"" + Sha256ListText(file.sha256s) + "\""));
    std::istringstream in(json.str());
    boost::property_tree::ptree tree;
    boost::property_tree::read_json(in, tree);
    StandardPackageManifest manifest;
    manifest.Read(tree);
    ASSERT_EQ(manifest.GetFiles().size(), 2u);
    EXPECT_EQ(manifest.GetFiles()[0]->GetSha256s(), file.sha256s);
    EXPECT_EQ(manifest.GetFiles()[0]->GetSha256s().size(), 3u);
    EXPECT_TRUE(manifest.GetFiles()[1]->GetSha256s().empty());
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

TEST_F(PublisherTest, ReplaceRewritesTheManifestsOfTheSameFiles) {
    WriteFile(source_ / "a.txt", "same bytes");
    Publish(Options());
    const auto inode = fs::hard_link_count(output_ / "packages/p1/k1/v1/a.txt");
    PublishOptions again = Options();
    again.replace = true;
    again.name = "Renamed";
    again.active = false;
    again.chunkSize = 4;
    PublishResult result = Publish(again);

    StandardPackageManifest manifest = ReadPackage(output_ / "manifests/k1/v1.xml");
    EXPECT_EQ(manifest.GetName(), "Renamed");
    EXPECT_FALSE(manifest.IsActive());
    EXPECT_EQ(manifest.GetFiles()[0]->GetChecksums(), ExpectedChecksums("same bytes", 4));
    EXPECT_EQ(ReadFile(output_ / "manifests/k1/current.xml"), ReadFile(output_ / "manifests/k1/v1.xml"));
    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1/a.txt"), "same bytes");
    EXPECT_EQ(fs::hard_link_count(output_ / "packages/p1/k1/v1/a.txt"), inode);
    EXPECT_THAT(result.written, ElementsAre(fs::path("manifests/k1/v1.xml"), fs::path("manifests/k1/current.xml")));
}

TEST_F(PublisherTest, ReplaceNeverChangesTheFilesOfAPublishedVersion) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& source)> change;
    } const cases[] = {
        {"a byte differs", [](const fs::path& s) { WriteFile(s / "a.txt", "olD"); }},
        {"a file is gone", [](const fs::path& s) { fs::remove(s / "sub/b.txt"); }},
        {"a file is new", [](const fs::path& s) { WriteFile(s / "new.txt", "n"); }},
        {"a file grew", [](const fs::path& s) { WriteFile(s / "a.txt", "old+"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        WriteFile(source_ / "a.txt", "old");
        WriteFile(source_ / "sub/b.txt", "b");
        Publish(Options());
        c.change(source_);
        PublishOptions again = Options();
        again.replace = true;
        ExpectRefused(again, "a published version is never changed");
    }
}

// What clients can see at any moment: every manifest names files that exist
// with the sizes and checksums it lists, and the node list reads.
void ExpectServedTreeConsistent(const fs::path& output) {
    if (fs::exists(output / "manifests/k1")) {
        for (const auto& entry : fs::directory_iterator(output / "manifests/k1")) {
            SCOPED_TRACE(entry.path().filename().string());
            StandardPackageManifest manifest = ReadPackage(entry.path());
            const fs::path folder = output / "packages/p1/k1" / manifest.GetVersionId();
            for (const auto& file : manifest.GetFiles()) {
                ASSERT_TRUE(fs::is_regular_file(folder / file->GetPath())) << file->GetPath();
                const std::string bytes = ReadFile(folder / file->GetPath());
                EXPECT_EQ(bytes.size(), file->GetSize());
                EXPECT_EQ(ExpectedChecksums(bytes, file->GetChunkSize()), file->GetChecksums());
            }
        }
    }
    if (fs::exists(output / "nodes/p1.xml")) {
        EXPECT_NO_THROW(ReadNodes(output / "nodes/p1.xml"));
    }
}

std::vector<std::string> Leftovers(const fs::path& output) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(output)) {
        if (entry.path().filename().string().starts_with(".")) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// Runs Publish in a child process that kills itself with SIGKILL right after
// step `at` (counted from 0); true when it was killed, false when it ended
// before reaching that step.
bool PublishKilledAfterStep(const PublishOptions& options, int at) {
    const pid_t child = ::fork();
    if (child == 0) {
        int step = 0;
        try {
            Publish(options, [&](const std::string&) {
                if (step++ == at) {
                    ::raise(SIGKILL);
                }
            });
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        return true;
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the publication failed";
    return false;
}

TEST_F(PublisherTest, KilledAtAnyStepTheServedTreeStaysConsistentAndTheNextRunFinishes) {
    struct Case {
        const char* name;
        std::function<void(PublisherTest&)> before;  // what is published already
        std::function<PublishOptions(PublisherTest&)> run;
        std::string current;  // the current version once the run is done
    };
    auto first = [](PublisherTest& t) {
        WriteFile(t.source_ / "a.txt", Bytes(10000, 1));
        WriteFile(t.source_ / "sub/b.bin", Bytes(3000, 2));
        PublishOptions v1 = t.Options("v1");
        v1.chunkSize = 4096;
        v1.nodes = {{"n1", "h1", "/packages/", 1}, {"n2", "h2", "/packages/", 1}};
        Publish(v1);
    };
    const Case cases[] = {
        {"first version", [](PublisherTest&) {},
         [](PublisherTest& t) {
             WriteFile(t.source_ / "a.txt", Bytes(5000, 1));
             PublishOptions o = t.Options("v1");
             o.nodes = {{"n1", "h1", "/packages/", 1}};
             return o;
         },
         "v1"},
        {"next version with a node list", first,
         [](PublisherTest& t) {
             WriteFile(t.source_ / "a.txt", Bytes(4000, 3));
             PublishOptions o = t.Options("v2");
             o.chunkSize = 1000;
             o.nodes = {{"n3", "h3", "/packages/", 1}};
             return o;
         },
         "v2"},
        {"manifests of the same files", first,
         [](PublisherTest& t) {
             PublishOptions o = t.Options("v1");
             o.replace = true;
             o.chunkSize = 8192;
             o.name = "Renamed";
             return o;
         },
         "v1"},
        {"rollback",
         [first](PublisherTest& t) {
             first(t);
             WriteFile(t.source_ / "a.txt", "v2");
             Publish(t.Options("v2"));
         },
         [](PublisherTest& t) {
             PublishOptions o = t.Options();
             o.setCurrent = "v1";
             return o;
         },
         "v1"},
        {"node removal", first,
         [](PublisherTest& t) {
             PublishOptions o = t.Options();
             o.nodesOnly = true;
             o.removeNodes = {"n1"};
             return o;
         },
         "v1"},
    };
    for (const auto& c : cases) {
        for (int at = 0;; ++at) {
            SCOPED_TRACE(std::string(c.name) + ", killed after step " + std::to_string(at));
            fs::remove_all(root_);
            fs::create_directories(source_);
            c.before(*this);
            PublishOptions options = c.run(*this);
            const bool killed = PublishKilledAfterStep(options, at);
            if (fs::exists(output_)) {
                ExpectServedTreeConsistent(output_);
            }
            // The next run finishes the job and removes what was left behind.
            PublishOptions next = options;
            next.replace = !options.nodesOnly && options.setCurrent.empty();
            if (options.nodesOnly) {
                next.removeNodes.clear();
                next.nodes = {{"n5", "h5", "/packages/", 1}};
            }
            Publish(next);
            ExpectServedTreeConsistent(output_);
            EXPECT_TRUE(Leftovers(output_).empty()) << Leftovers(output_).front();
            EXPECT_EQ(ReadPackage(output_ / "manifests/k1/current.xml").GetVersionId(), c.current);
            if (!killed) {
                break;
            }
        }
    }
}

TEST_F(PublisherTest, FilesLeftByAKilledRunAreRemovedByTheNext) {
    WriteFile(source_ / "a.txt", "a");
    WriteFile(output_ / ".vrexa-publish-AbC123/files/a.txt", "half");
    WriteFile(output_ / ".vrexa-publish-XyZ789/manifest.xml", "<pack");
    Publish(Options());
    EXPECT_TRUE(Leftovers(output_).empty());
    EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1/a.txt"), "a");
}

TEST_F(PublisherTest, ARunIsRefusedWhileAnotherWritesToTheSameOutput) {
    WriteFile(source_ / "a.txt", "a");
    Publish(Options("v0"));
    const auto before = Snapshot(output_);
    {
        // What a running publisher holds.
        const int held = ::open(output_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        PublishOptions nodes = Options();
        nodes.nodesOnly = true;
        nodes.nodes = {{"n", "h", "/packages/", 1}};
        PublishOptions current = Options();
        current.setCurrent = "v0";
        for (const PublishOptions& options : {Options("v1"), nodes, current}) {
            ExpectRefused(options, "another vrexa-publish is writing to");
        }
        ::close(held);
    }
    EXPECT_EQ(Snapshot(output_), before);
    Publish(Options("v1"));  // the lock ends with its holder
}

TEST_F(PublisherTest, AFileSwappedForAFifoAfterTheScanIsRefusedWithoutBlocking) {
    WriteFile(source_ / "a.txt", "a");
    WriteFile(source_ / "b.txt", "b");
    const auto observer = [this](const std::string& step) {
        if (step == "scanned") {
            fs::remove(source_ / "b.txt");
            ASSERT_EQ(::mkfifo((source_ / "b.txt").c_str(), 0600), 0);
        }
    };
    testsupport::FinishesWithin(std::chrono::seconds(30), [&] {
        try {
            Publish(Options(), observer);
            ADD_FAILURE() << "published";
        } catch (const PublishError& error) {
            EXPECT_THAT(error.what(), HasSubstr("is no longer a regular file"));
        }
    });
    EXPECT_TRUE(!fs::exists(output_) || Snapshot(output_).empty());
}

TEST_F(PublisherTest, SetCurrentPointsTheCurrentManifestAtAPublishedVersion) {
    WriteFile(source_ / "a.txt", "one");
    Publish(Options("v1"));
    WriteFile(source_ / "a.txt", "two");
    Publish(Options("v2"));
    PublishOptions back = Options();
    back.setCurrent = "v1";
    PublishResult result = Publish(back);
    EXPECT_EQ(ReadFile(output_ / "manifests/k1/current.xml"), ReadFile(output_ / "manifests/k1/v1.xml"));
    EXPECT_THAT(result.written, ElementsAre(fs::path("manifests/k1/current.xml")));
    back.setCurrent = "v2";
    Publish(back);
    EXPECT_EQ(ReadPackage(output_ / "manifests/k1/current.xml").GetVersionId(), "v2");
}

TEST_F(PublisherTest, SetCurrentRefusesAVersionThatIsNotWhollyPublished) {
    const RefusalCase cases[] = {
        {"not published", [](auto& o, auto&, auto&) { o.setCurrent = "v9"; }, "is not published"},
        {"a file changed",
         [](auto& o, auto&, auto& out) {
             o.setCurrent = "v1";
             WriteFile(out / "packages/p1/k1/v1/a.txt", "onE");
         },
         "does not match the manifest"},
        {"a file forged with its checksum kept",
         [](auto& o, auto&, auto& out) {
             o.setCurrent = "v1";
             WriteFile(out / "packages/p1/k1/v1/a.txt", testsupport::CrcForgedChunk("one and more"));
         },
         "does not match the manifest"},
        {"a file missing",
         [](auto& o, auto&, auto& out) {
             o.setCurrent = "v1";
             fs::remove(out / "packages/p1/k1/v1/a.txt");
         },
         "does not match the manifest"},
        {"another package's manifest",
         [](auto& o, auto&, auto& out) {
             o.setCurrent = "v1";
             fs::copy_file(out / "manifests/k1/v2.xml", out / "manifests/k1/v1.xml",
                           fs::copy_options::overwrite_existing);
         },
         "describes version \"v2\""},
        {"a version id that is no folder name", [](auto& o, auto&, auto&) { o.setCurrent = "../k1/v1"; },
         "cannot be part"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        WriteFile(source_ / "a.txt", "one and more");
        Publish(Options("v1"));
        WriteFile(source_ / "a.txt", "two");
        Publish(Options("v2"));
        PublishOptions options = Options();
        c.prepare(options, source_, output_);
        ExpectRefused(options, c.message);
    }
}

TEST_F(PublisherTest, NodesAreRemovedFromTheNodeListByIdAndTheOthersStay) {
    PublishOptions options = Options();
    options.nodesOnly = true;
    options.nodes = {{"n1", "h1", "/packages/", 1}, {"n2", "h2", "/packages/", 1}, {"n3", "h3", "/packages/", 1}};
    Publish(options);
    options.nodes = {{"n4", "h4", "/packages/", 1}};
    options.removeNodes = {"n2", "n1"};
    Publish(options);
    StandardNodeListManifest nodes = ReadNodes(output_ / "nodes/p1.xml");
    std::vector<std::string> ids;
    for (const auto& node : nodes.GetNodes()) {
        ids.push_back(node->GetNodeId());
    }
    EXPECT_THAT(ids, ElementsAre("n3", "n4"));
}

TEST_F(PublisherTest, RemovingNodesIsRefusedWhenItCannotBeDone) {
    const struct {
        const char* name;
        std::vector<NodeSpec> nodes;
        std::vector<std::string> removed;
        const char* message;
    } cases[] = {
        {"unknown id", {}, {"n9"}, "is not in the node list"},
        {"every node", {}, {"n1", "n2"}, "empty"},
        {"given and removed", {{"n1", "h", "/packages/", 1}}, {"n1"}, "both given and to be removed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_);
        PublishOptions options = Options();
        options.nodesOnly = true;
        options.nodes = {{"n1", "h1", "/packages/", 1}, {"n2", "h2", "/packages/", 1}};
        Publish(options);
        options.nodes = c.nodes;
        options.removeNodes = c.removed;
        ExpectRefused(options, c.message);
    }
}

TEST_F(PublisherTest, FileNamesWithUrlDelimitersAndAnyScriptArePublished) {
    const std::vector<std::string> names = {
        "with space.txt", "what?.txt", "hash#tag", "100%.dat", "dir/a:b", "Grüße/日本語 ñ.bin", "%41%2F%2e%2e",
    };
    for (std::size_t i = 0; i < names.size(); ++i) {
        WriteFile(source_ / names[i], Bytes(10 + i, static_cast<unsigned>(i)));
    }
    PublishOptions options = Options();
    options.run = "what?.txt";
    Publish(options);
    StandardPackageManifest manifest = ReadPackage(output_ / "manifests/k1/v1.xml");
    std::vector<std::string> paths;
    for (const auto& file : manifest.GetFiles()) {
        paths.push_back(file->GetPath());
        EXPECT_EQ(ReadFile(output_ / "packages/p1/k1/v1" / file->GetPath()), ReadFile(source_ / file->GetPath()));
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(manifest.GetRunFile()->GetPath(), "what?.txt");
}

TEST_F(PublisherTest, SignedDocumentsNameThemselvesAndNoSignatureIsLeftStale) {
    const fs::path pub = root_ / "vendor.pub";
    const fs::path key = root_ / "vendor.key";
    const std::string make =
        "/usr/bin/minisign -G -W -f -p '" + pub.string() + "' -s '" + key.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::vector<MinisignPublicKey> trusted = {ParseMinisignPublicKey(ReadFile(pub))};
    // The trusted comment of a document's signature, once it verifies.
    auto comment = [&](const std::string& document) {
        const fs::path path = output_ / document;
        const MinisignSignature signature = ParseMinisignSignature(ReadFile(path.string() + ".minisig"));
        VerifyMinisign(trusted, ReadFile(path), signature);
        return ParseTrustedComment(signature.trustedComment);
    };

    WriteFile(source_ / "a.txt", "one");
    PublishOptions first = Options("v1");
    first.nodes = {NodeSpec{"n1", "127.0.0.1:81"}};
    first.signKey = key;
    first.serial = 7;
    first.expiresDays = 2;
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const PublishResult result = Publish(first);
    EXPECT_THAT(result.written, ElementsAre(fs::path("packages/p1/k1/v1"), fs::path("manifests/k1/v1.xml"),
                                            fs::path("manifests/k1/v1.xml.minisig"), fs::path("nodes/p1.xml"),
                                            fs::path("nodes/p1.xml.minisig"), fs::path("manifests/k1/current.xml"),
                                            fs::path("manifests/k1/current.xml.minisig")));
    for (const char* document : {"manifests/k1/v1.xml", "manifests/k1/current.xml"}) {
        const TrustedComment said = comment(document);
        EXPECT_EQ(FormatTrustedComment(said),
                  "kind=package id=k1 version=v1 serial=7 expires=" + std::to_string(*said.expires));
        EXPECT_NEAR(static_cast<double>(*said.expires), static_cast<double>(now + 2 * 86400), 60.0);
    }
    EXPECT_EQ(comment("nodes/p1.xml").kind, "nodes");
    EXPECT_EQ(comment("nodes/p1.xml").id, "p1");

    // Without the key, nothing signed is replaced.
    WriteFile(source_ / "a.txt", "two");
    ExpectRefused(Options("v2"),
                  "\"" + (output_ / "manifests/k1/current.xml").string() + "\" is signed; give --sign-key");
    PublishOptions nodes = Options();
    nodes.nodesOnly = true;
    nodes.nodes = {NodeSpec{"n2", "127.0.0.1:82"}};
    ExpectRefused(nodes, "nodes/p1.xml\" is signed");
    // A key that cannot be opened publishes nothing either.
    PublishOptions broken = Options("v2");
    broken.signKey = root_ / "missing.key";
    ExpectRefused(broken, "cannot read the secret key");

    // Rolling back is signed anew, under this run's serial.
    PublishOptions second = Options("v2");
    second.signKey = key;
    second.serial = 8;
    Publish(second);
    PublishOptions back = Options();
    back.setCurrent = "v1";
    back.signKey = key;
    back.serial = 9;
    Publish(back);
    EXPECT_EQ(comment("manifests/k1/current.xml").version, "v1");
    EXPECT_EQ(comment("manifests/k1/current.xml").serial, 9u);
    EXPECT_EQ(comment("manifests/k1/v2.xml").serial, 8u);
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
        {"file name that is not UTF-8", [](auto&, auto& s, auto&) { WriteFile(s / "caf\xE9.txt", "q"); },
         "is not UTF-8"},
        {"file name with a control character", [](auto&, auto& s, auto&) { WriteFile(s / "a\tb", "q"); },
         "cannot be part of a download path"},
        {"top-level file name that is a drive", [](auto&, auto& s, auto&) { WriteFile(s / "C:x", "q"); },
         "another drive"},
        {"file name with a backslash", [](auto&, auto& s, auto&) { WriteFile(s / "a\\..\\b", "q"); },
         "cannot be part of a download path"},
        {"files differing in case", [](auto&, auto& s, auto&) { WriteFile(s / "A.txt", "q"); }, "only in case"},
        {"files differing in the case of other scripts",
         [](auto&, auto& s, auto&) {
             WriteFile(s / "Ärger/Ω.txt", "q");
             WriteFile(s / "ärger/ω.txt", "q");
         },
         "only in case"},
        {"file too large for its chunk size",
         [](auto& o, auto& s, auto&) {
             o.chunkSize = 1;
             std::ofstream(s / "huge.bin").close();
             fs::resize_file(s / "huge.bin", 0x20000000);  // sparse
         },
         "at least 4096"},
        {"chunk size below the minimum for a file of its size",
         [](auto& o, auto& s, auto&) {
             o.chunkSize = 4095;
             WriteFile(s / "small.bin", Bytes(4095, 1));  // may use small chunks
             WriteFile(s / "large.bin", Bytes(4096, 1));
         },
         "the chunk size of 4095 bytes is too small for the file \"large.bin\""},
        {"file name the clients read as a drive", [](auto&, auto& s, auto&) { WriteFile(s / "x:y.bin", "q"); },
         "the file \"x:y.bin\" cannot be downloaded: the clients would write it outside the destination folder"},
        {"node host with a user name",
         [](auto& o, auto&, auto&) {
             o.nodes = {{"n1", "user@h1", "/packages/", 1}};
         },
         "the host of node \"n1\", \"user@h1\", is not HOST[:PORT]"},
        {"node path that climbs",
         [](auto& o, auto&, auto&) {
             o.nodes = {{"n1", "h1", "/a/../", 1}};
         },
         "the path of node \"n1\", \"/a/../\", holds a \".\" or \"..\" folder"},
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
