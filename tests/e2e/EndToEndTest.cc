// The real vrexa program against the local download network: nginx as the
// manifest cache host and download nodes, the analytics receiver with the
// geolocation answer, and fault-injecting nodes and hosts of the tests' own.
// What is checked is what a user or an operator sees: the files, the exit
// code, the messages, the requests in the servers' logs.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/EndToEndSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/ForgedChunk.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/network/LocalNetwork.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;
using testing::HasSubstr;
using testsupport::AccessLine;
using testsupport::ChildProcess;
using testsupport::ChildResult;
using testsupport::ClosedPort;
using testsupport::Fault;
using testsupport::LocalNetwork;
using testsupport::NetworkNode;
using testsupport::TestHttpServer;

constexpr std::uint32_t kChunk = 16384;
const std::string kPartner = "p1";
const std::chrono::seconds kRunDeadline(120);

struct Package {
    std::string id;
    std::string version;
    std::string run;
    std::uint32_t chunk = kChunk;
    std::map<std::string, std::string> files;

    std::uint64_t TotalBytes() const {
        std::uint64_t total = 0;
        for (const auto& [_, data] : files)
            total += data.size();
        return total;
    }
    // The path of a file as the nodes serve it.
    std::string Target(const std::string& path) const {
        return "/packages/" + kPartner + "/" + id + "/" + version + "/" + path;
    }
};

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string data(size, '\0');
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t word = random();
        std::memcpy(&data[i], &word, 8);
    }
    for (; i < size; ++i)
        data[i] = static_cast<char>(random());
    return data;
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ptree ParseJson(const std::string& text) {
    std::istringstream in(text);
    ptree tree;
    boost::property_tree::read_json(in, tree);
    return tree;
}

std::vector<std::string> Keys(const ptree& tree) {
    std::vector<std::string> keys;
    for (const auto& [key, _] : tree)
        keys.push_back(key);
    return keys;
}

// The transfer id vrexa prints when it begins.
std::string TransferIdIn(const std::string& text) {
    static const std::regex id("transfer ([0-9a-f]{32})");
    std::smatch match;
    return std::regex_search(text, match, id) ? match[1].str() : std::string();
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "dests");
        // Something that is nobody's to touch, beside every destination.
        std::ofstream(root_ / "dests" / "keep.txt") << "untouched";

        // A run script, files whose last chunk is whole and partial, and an
        // empty one; a second package whose run program has no extension and
        // whose version is not for every country.
        k1_ = {"k1", "v1", "setup/run.sh", kChunk, {}};
        k1_.files = {{"setup/run.sh", "#!/bin/sh\necho installing\n" + Bytes(40000, 1)},
                     {"data/full.bin", Bytes(4 * kChunk, 2)},
                     {"data/partial.bin", Bytes(3 * kChunk + 1000, 3)},
                     {"empty.txt", ""}};
        k2_ = {"k2", "v7", "bin/installer", kChunk, {}};
        k2_.files = {{"bin/installer", Bytes(20000, 4)}, {"notes", Bytes(5000, 5)}};
        ASSERT_NO_FATAL_FAILURE(Publish(k1_));
        ASSERT_NO_FATAL_FAILURE(Publish(k2_, {"--policy", "Blacklist", "--country", "DE"}));
    }

    void TearDown() override { network_.reset(); }

    void Publish(const Package& package, const std::vector<std::string>& extra = {}) {
        const fs::path source = root_ / "source" / package.id;
        for (const auto& [path, data] : package.files) {
            fs::create_directories((source / path).parent_path());
            std::ofstream(source / path, std::ios::binary) << data;
        }
        std::vector<std::string> args = {"--partner", kPartner,        "--package",    package.id,
                                         "--version", package.version, "--name",       "Package " + package.id,
                                         "--run",     package.run,     "--chunk-size", std::to_string(package.chunk)};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {source.string(), (root_ / "tree").string()});
        const auto published = testsupport::RunPublisher(args);
        ASSERT_EQ(published.exitCode, 0) << published.err;
        fs::remove_all(source);
    }

    LocalNetwork& Network() {
        if (!network_) {
            testsupport::LocalNetworkOptions options;
            options.tree = root_ / "tree";
            options.nodes = 2;
            options.partners = {kPartner};
            options.tls = tls_;
            network_ = std::make_unique<LocalNetwork>(options);
        }
        return *network_;
    }

    std::map<std::string, std::string> Environment(const std::map<std::string, std::string>& extra = {}) {
        LocalNetwork& network = Network();
        std::map<std::string, std::string> environment = {
            {"PATH", "/usr/local/bin:/usr/bin:/bin"},
            {"HOME", (root_ / "home").string()},
            // Stored transfers and logs stay inside the test.
            {"XDG_CACHE_HOME", (root_ / "cache").string()},
            {"VREXA_MANIFEST_HOST", network.ManifestHost()},
            {"VREXA_GEOLOCATION_URL", network.GeolocationUrl()},
            {"VREXA_EVENTS_ANALYTICS_URL", network.EventsAnalyticsUrl()},
            {"VREXA_TRANSFER_ANALYTICS_URL", network.TransferAnalyticsUrl()},
        };
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
            if (const char* value = std::getenv(name)) environment[name] = value;
        }
        for (const auto& [name, value] : extra)
            environment[name] = value;
        return environment;
    }

    std::unique_ptr<ChildProcess> Start(std::vector<std::string> args,
                                        const std::map<std::string, std::string>& extra = {}) {
        args.insert(args.begin(), VREXA_PROGRAM);
        return std::make_unique<ChildProcess>(args, Environment(extra));
    }

    ChildResult Vrexa(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {}) {
        ChildResult result = Start(args, extra)->Finish(kRunDeadline);
        EXPECT_FALSE(result.timedOut) << "vrexa " << testing::PrintToString(args) << " did not end";
        EXPECT_EQ(result.termSignal, 0) << "vrexa " << testing::PrintToString(args) << "\n" << result.err;
        return result;
    }

    ChildResult Download(const Package& package, const fs::path& dest, std::vector<std::string> extra = {},
                         const std::map<std::string, std::string>& environment = {}) {
        std::vector<std::string> args = {"download", "--partner", kPartner, "--package", package.id};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(dest.string());
        return Vrexa(args, environment);
    }

    ChildResult Verify(const Package& package, const fs::path& dest) {
        return Vrexa({"verify", "--partner", kPartner, "--package", package.id, dest.string()});
    }

    fs::path Dest(const std::string& name) const { return root_ / "dests" / name; }

    // data/partial.bin of k1, downloaded into Dest("k1"), has a damaged last
    // chunk: verify ends with a mismatch naming it, and a download fetches
    // that chunk alone and ends with the whole package.
    void ExpectNamedByVerifyAndFetchedAlone();

    fs::path AccessLog() { return Network().Folder() / "logs" / "access.log"; }

    // Requests to the download nodes logged since `from` (a byte offset of
    // the access log, see LogSize).
    std::vector<AccessLine> ChunkRequests(std::uint64_t from = 0) {
        std::vector<AccessLine> chunks;
        for (const AccessLine& line : testsupport::ReadAccessLog(AccessLog(), from)) {
            if (line.target.rfind("/packages/", 0) == 0) chunks.push_back(line);
        }
        return chunks;
    }
    std::uint64_t LogSize() {
        std::error_code error;
        const auto size = fs::file_size(AccessLog(), error);
        return error ? 0 : size;
    }

    void ExpectPackageIn(const fs::path& dest, const Package& package) {
        ASSERT_TRUE(fs::is_directory(dest)) << dest;
        const auto files = testsupport::ReadTree(dest);
        ASSERT_EQ(files.size(), package.files.size()) << testing::PrintToString(testsupport::ListTree(dest));
        for (const auto& [path, data] : package.files) {
            const auto found = files.find(path);
            ASSERT_NE(found, files.end()) << path;
            EXPECT_TRUE(found->second == data)
                << path << " differs (" << found->second.size() << " bytes, " << data.size() << " expected)";
        }
    }

    // Everything under the destinations' folder except what lies in dest.
    std::set<std::string> OutsideOf(const fs::path& dest) {
        std::set<std::string> outside;
        const std::string name = dest.filename().string();
        for (const std::string& path : testsupport::ListTree(root_ / "dests")) {
            if (path != name && path.rfind(name + "/", 0) != 0) outside.insert(path);
        }
        return outside;
    }

    // Serves the partner a node list of these nodes (the network's own by
    // default).
    void ServeNodes(const std::vector<NetworkNode>& nodes) { Network().ServeNodeList(kPartner, nodes); }

    // The command line that goes on with transfer `id` when it is stored,
    // else starts it anew with `download` (clearing id).
    std::vector<std::string> ResumeOrDownload(std::string& id, const std::vector<std::string>& download) {
        const bool stored = !id.empty() && Vrexa({"list"}).out.find(id) != std::string::npos;
        if (stored) return {"resume", id};
        id.clear();
        std::vector<std::string> args = {"download"};
        args.insert(args.end(), download.begin(), download.end());
        return args;
    }

    // Runs vrexa with args (--json among them) and kills it with SIGKILL once
    // it has reported `at` completed bytes; reached is false when it ended
    // before that. id receives the transfer's id when it had none.
    struct KilledRun {
        bool reached = false;
        ChildResult result;
    };
    KilledRun KillWhenCompleted(const std::vector<std::string>& args, std::uint64_t at, std::string& id) {
        auto child = Start(args);
        static const std::regex completed("\"completedBytes\":([0-9]+)");
        static const std::regex transferId("\"transferId\":\"([0-9a-f]{32})\"");
        KilledRun run;
        run.reached = child->WaitForLine(
            [&](const std::string& line) {
                std::smatch match;
                if (id.empty() && std::regex_search(line, match, transferId)) id = match[1].str();
                return std::regex_search(line, match, completed) && std::stoull(match[1].str()) >= at;
            },
            kRunDeadline);
        child->Signal(SIGKILL);
        run.result = child->Finish(kRunDeadline);
        if (id.empty()) id = TransferIdIn(run.result.err);
        return run;
    }

    testsupport::TestFolder folder_;
    const fs::path root_{folder_.Path()};
    Package k1_;
    Package k2_;
    std::unique_ptr<LocalNetwork> network_;
    bool tls_ = false;  // the network speaks HTTPS
};

TEST_F(EndToEndTest, DownloadIsBitIdenticalWithOneRangedRequestPerChunk) {
    // k1 in its current version, k2 in the version asked for.
    for (const auto& [package, version] : {std::pair(&k1_, std::string()), std::pair(&k2_, std::string("v7"))}) {
        SCOPED_TRACE(package->id);
        const std::uint64_t from = LogSize();
        std::vector<std::string> extra;
        if (!version.empty()) extra = {"--version", version};
        const ChildResult run = Download(*package, Dest(package->id), extra);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        ExpectPackageIn(Dest(package->id), *package);
        EXPECT_EQ(TransferIdIn(run.err).size(), 32u) << run.err;
        // Not a terminal: no carriage returns or escape sequences.
        EXPECT_EQ(run.out.find_first_of("\r\x1b"), std::string::npos) << run.out;
        EXPECT_THAT(run.out, HasSubstr("Complete"));

        std::map<std::string, std::vector<std::string>> ranges;
        for (const AccessLine& line : ChunkRequests(from)) {
            EXPECT_EQ(line.method, "GET") << line.target;
            EXPECT_EQ(line.status, 206) << line.target << " " << line.range;
            ranges[line.target].push_back(line.range);
        }
        std::size_t filesWithData = 0;
        for (const auto& [path, data] : package->files) {
            std::vector<std::string> expected = testsupport::ChunkRanges(data.size(), package->chunk);
            const auto found = ranges.find(package->Target(path));
            std::vector<std::string> got = found == ranges.end() ? std::vector<std::string>() : found->second;
            std::sort(expected.begin(), expected.end());
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, expected) << path;
            filesWithData += data.empty() ? 0 : 1;
        }
        EXPECT_EQ(ranges.size(), filesWithData) << "requests for files the package does not have";

        // The run file may be started, whatever its name.
        const fs::perms mode = fs::status(Dest(package->id) / package->run).permissions();
        EXPECT_NE(mode & fs::perms::owner_exec, fs::perms::none) << package->run;
    }
}

TEST_F(EndToEndTest, WhatIsOnDiskIsNeitherFetchedAgainNorByVerify) {
    const ChildResult first = Download(k1_, Dest("k1"));
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const std::uint64_t from = LogSize();

    const ChildResult second = Download(k1_, Dest("k1"));
    EXPECT_EQ(second.exitCode, 0) << second.err;
    const ChildResult verified = Verify(k1_, Dest("k1"));
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_TRUE(ChunkRequests(from).empty()) << ChunkRequests(from).size() << " chunk requests";
    ExpectPackageIn(Dest("k1"), k1_);

    // Both downloads are complete, so neither is kept for a resume, and a
    // verification never is.
    const ChildResult listed = Vrexa({"list"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, "");
    EXPECT_TRUE(fs::is_empty(root_ / "cache/Quenlar/Vrexa/transfers"));
}

// The partial last chunk of data/partial.bin damaged on disk, by a flipped
// byte or by other bytes that keep its CRC-32: verify names it, and a
// download fetches that chunk alone.
TEST_F(EndToEndTest, ADamagedChunkIsNamedByVerifyAndOnlyItsChunkIsFetched) {
    const std::uint64_t lower = 3 * kChunk;
    const std::string original = k1_.files["data/partial.bin"].substr(lower);
    std::string flipped = original;
    flipped[500] = static_cast<char>(flipped[500] ^ 0x5a);
    const struct {
        const char* name;
        std::string bytes;
    } damages[] = {{"a flipped byte", flipped}, {"CRC-forged bytes", testsupport::CrcForgedChunk(original)}};
    ASSERT_EQ(Download(k1_, Dest("k1")).exitCode, 0);
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.name);
        {
            std::fstream file(Dest("k1") / "data/partial.bin", std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(static_cast<std::streamoff>(lower));
            file.write(damage.bytes.data(), static_cast<std::streamsize>(damage.bytes.size()));
        }
        ASSERT_NO_FATAL_FAILURE(ExpectNamedByVerifyAndFetchedAlone());
    }
}

void EndToEndTest::ExpectNamedByVerifyAndFetchedAlone() {
    const ChildResult mismatch = Verify(k1_, Dest("k1"));
    EXPECT_EQ(mismatch.exitCode, 3) << mismatch.err;
    EXPECT_THAT(mismatch.err, HasSubstr("\nvrexa: data/partial.bin: bytes " + std::to_string(3 * kChunk) + "-" +
                                        std::to_string(3 * kChunk + 999) + " do not match the package\n"));

    const std::uint64_t from = LogSize();
    const ChildResult repaired = Download(k1_, Dest("k1"));
    ASSERT_EQ(repaired.exitCode, 0) << repaired.err;
    const std::vector<AccessLine> requests = ChunkRequests(from);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, k1_.Target("data/partial.bin"));
    EXPECT_EQ(requests[0].range, testsupport::ChunkRanges(3 * kChunk + 1000, kChunk).back());
    ExpectPackageIn(Dest("k1"), k1_);
    EXPECT_EQ(Verify(k1_, Dest("k1")).exitCode, 0);
}

TEST_F(EndToEndTest, VerifyOfAMissingPackageIsAMismatchAndWritesNothing) {
    const ChildResult run = Verify(k1_, Dest("nothing"));
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_THAT(run.err, testing::MatchesRegex(".*\nvrexa: [^ ]+ is missing in " + Dest("nothing").string() + "\n"));
    EXPECT_FALSE(fs::exists(Dest("nothing") / "data"));
}

// Links in the destination at a package's paths (a folder, a file, the run
// file) leading out of it: the download fails on them, writes, replaces and
// re-permissions nothing outside, and leaves the link; once the link is gone
// the same download completes. The check does not take a link to a correct
// copy for the file.
TEST_F(EndToEndTest, LinksInTheDestinationLeadNothingOutOfIt) {
    struct Case {
        const char* name;
        const char* link;    // in the destination
        const char* target;  // in the folder outside; "" for that folder itself
    };
    const Case cases[] = {
        {"folder", "data", ""},
        {"file", "data/partial.bin", "victim.txt"},
        {"run file", "setup/run.sh", "victim.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dest = Dest(std::string("linked-") + c.name);
        const fs::path elsewhere = root_ / (std::string("elsewhere-") + c.name);
        fs::create_directories(elsewhere);
        std::ofstream(elsewhere / "victim.txt") << "the user's own file";
        fs::permissions(elsewhere / "victim.txt", fs::perms::owner_read | fs::perms::owner_write |
                                                      fs::perms::group_read | fs::perms::others_read);
        fs::create_directories((dest / c.link).parent_path());
        fs::create_symlink(elsewhere / c.target, dest / c.link);
        const auto before = testsupport::ReadTree(elsewhere);
        const fs::perms mode = fs::status(elsewhere / "victim.txt").permissions();

        const ChildResult refused = Download(k1_, dest, {"--retry", "0"});
        EXPECT_EQ(refused.exitCode, 7) << refused.err;
        EXPECT_THAT(refused.err, HasSubstr("\nvrexa: a file of the package would be written through a link or out of " +
                                           dest.string() + "\n"));
        EXPECT_TRUE(testsupport::ReadTree(elsewhere) == before);
        EXPECT_EQ(testsupport::ListTree(elsewhere), std::set<std::string>{"victim.txt"});
        EXPECT_EQ(fs::status(elsewhere / "victim.txt").permissions(), mode);
        EXPECT_TRUE(fs::is_symlink(dest / c.link));

        fs::remove(dest / c.link);
        const ChildResult clean = Download(k1_, dest);
        EXPECT_EQ(clean.exitCode, 0) << clean.err;
        ExpectPackageIn(dest, k1_);
    }

    const fs::path dest = Dest("linked-folder");
    const fs::path copies = root_ / "copies";
    fs::create_directories(copies);
    fs::rename(dest / "data", copies / "data");
    fs::create_symlink(copies / "data", dest / "data");
    const ChildResult check = Verify(k1_, dest);
    EXPECT_EQ(check.exitCode, 3) << check.err;
}

TEST_F(EndToEndTest, HelpUsageErrorsAndUnknownTransfers) {
    const ChildResult help = Vrexa({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("vrexa download"));
    const ChildResult wrong = Vrexa({"download", "--partner", "p1", "--bogus", "x"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_THAT(wrong.err, HasSubstr("unknown option '--bogus'"));
    EXPECT_THAT(wrong.err, HasSubstr("vrexa --help"));
    const ChildResult unknown = Vrexa({"resume", "0123456789abcdef0123456789abcdef"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_THAT(unknown.err, HasSubstr("no stored transfer"));
}

// ---- the destination is one transfer's at a time -----------------------------

class EndToEndLockTest : public EndToEndTest {
protected:
    // The only node holds every chunk request until the gate is released,
    // so a download stays in progress for as long as the test needs.
    void HoldTheNode() {
        held_ = std::make_unique<TestHttpServer>((root_ / "tree").string());
        for (const Package* package : {&k1_, &k2_})
            for (const auto& [path, _] : package->files)
                held_->SetFault(package->Target(path), Fault().Hold("chunks"));
        ServeNodes({{"held", held_->Address(), "/packages/", true}});
    }

    // A download of k1 into dest, followed until it writes; its id.
    std::unique_ptr<ChildProcess> DownloadingK1(const fs::path& dest, std::string& id) {
        auto child = Start({"download", "--json", "--partner", kPartner, "--package", "k1", dest.string()});
        EXPECT_TRUE(child->WaitForLine(
            [&id](const std::string& line) {
                if (id.empty()) id = TransferIdIn("transfer " + ParseJson(line).get<std::string>("transferId", ""));
                return line.find("\"Transferring\"") != std::string::npos;
            },
            std::chrono::seconds(60)));
        return child;
    }

    std::unique_ptr<TestHttpServer> held_;
};

TEST_F(EndToEndLockTest, ASecondDownloadIntoTheSameFolderFailsAtOnceNamingTheFirst) {
    HoldTheNode();
    std::string first;
    auto running = DownloadingK1(Dest("shared"), first);
    ASSERT_EQ(first.size(), 32u);

    // Another package, and another spelling of the same folder.
    for (const fs::path& spelling : {Dest("shared"), Dest("shared") / "sub" / ".."}) {
        const ChildResult second = Download(k2_, spelling);
        EXPECT_EQ(second.exitCode, 7) << second.err;
        EXPECT_THAT(second.err, HasSubstr("\nvrexa: the destination " + Dest("shared").string() +
                                          " is in use by transfer " + first + "\n"));
    }
    const ChildResult listed = Vrexa({"list"});
    EXPECT_THAT(listed.out, HasSubstr(first + "\tk1\tv1\t" + Dest("shared").string() + "\trunning\n"));
    // The refused ones never wrote and were never stored.
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 1) << listed.out;
    const ChildResult removed = Vrexa({"remove", first});
    EXPECT_EQ(removed.exitCode, 1);
    EXPECT_THAT(removed.err, HasSubstr("is running"));

    held_->Release("chunks");
    const ChildResult finished = running->Finish(kRunDeadline);
    EXPECT_EQ(finished.exitCode, 0) << finished.err;
    ExpectPackageIn(Dest("shared"), k1_);
    EXPECT_EQ(Verify(k1_, Dest("shared")).exitCode, 0);
    // Complete: nothing left to resume, so nothing left listed.
    EXPECT_EQ(Vrexa({"list"}).out, "");
}

TEST_F(EndToEndLockTest, AKilledHolderDoesNotBlockTheNextDownload) {
    HoldTheNode();
    std::string killed;
    auto running = DownloadingK1(Dest("k1"), killed);
    running->Signal(SIGKILL);
    EXPECT_EQ(running->Finish(kRunDeadline).termSignal, SIGKILL);
    // Its entry stays for resume, but nothing holds the folder any more.
    EXPECT_EQ(Vrexa({"list"}).out, killed + "\tk1\tv1\t" + Dest("k1").string() + "\n");

    held_->Release("chunks");
    const ChildResult next = Download(k1_, Dest("k1"));
    EXPECT_EQ(next.exitCode, 0) << next.err;
    ExpectPackageIn(Dest("k1"), k1_);
}

// ---- stored transfers: kept only while there is something to resume ----------

TEST_F(EndToEndTest, OnlyUnfinishedTransfersAreKeptAndRemoveAndPruneForgetThem) {
    // Complete: no entry.
    const ChildResult complete = Download(k1_, Dest("complete"));
    ASSERT_EQ(complete.exitCode, 0) << complete.err;
    EXPECT_EQ(Vrexa({"list"}).out, "");

    // Failed: every node refuses the package.
    TestHttpServer refusing((root_ / "tree").string());
    for (const auto& [path, _] : k2_.files)
        refusing.SetFault(k2_.Target(path), Fault().Status(404));
    ServeNodes({{"refusing", refusing.Address(), "/packages/", true}});
    // No retries: waiting out retry rounds would only slow the test down.
    const ChildResult failed = Download(k2_, Dest("failed"), {"--retry", "0"});
    ASSERT_EQ(failed.exitCode, 1) << failed.err;
    EXPECT_THAT(failed.err, HasSubstr("\nvrexa: the download node " + refusing.Address() + " does not have http://" +
                                      refusing.Address() + "/packages/"));
    const std::string failedId = TransferIdIn(failed.err);

    // Suspended: interrupted while a node holds its chunks.
    TestHttpServer holding((root_ / "tree").string());
    for (const auto& [path, _] : k1_.files)
        holding.SetFault(k1_.Target(path), Fault().Hold("chunks"));
    ServeNodes({{"holding", holding.Address(), "/packages/", true}});
    auto child = Start({"download", "--json", "--partner", kPartner, "--package", "k1", Dest("suspended").string()});
    ASSERT_TRUE(
        child->WaitForLine([](const std::string& line) { return line.find("\"Transferring\"") != std::string::npos; },
                           std::chrono::seconds(60)));
    child->Signal(SIGINT);
    const ChildResult interrupted = child->Finish(kRunDeadline);
    ASSERT_EQ(interrupted.exitCode, 130) << interrupted.err;
    const std::string suspendedId = TransferIdIn(interrupted.err);
    holding.Release("chunks");

    const std::string listed = Vrexa({"list"}).out;
    EXPECT_THAT(listed, HasSubstr(failedId + "\tk2\tv7\t"));
    EXPECT_THAT(listed, HasSubstr(suspendedId + "\tk1\tv1\t"));
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 2) << listed;

    // The failed one was stored three days ago: only it is older than two.
    const fs::path transfers = root_ / "cache/Quenlar/Vrexa/transfers";
    fs::last_write_time(transfers / (failedId + ".json"),
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 3));
    const ChildResult pruned = Vrexa({"prune", "--older-than", "2"});
    EXPECT_EQ(pruned.exitCode, 0) << pruned.err;
    EXPECT_EQ(pruned.out, "removed " + failedId + "\n");
    EXPECT_EQ(Vrexa({"list"}).out.find(failedId), std::string::npos);

    const ChildResult removed = Vrexa({"remove", suspendedId});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_EQ(Vrexa({"list"}).out, "");
    const ChildResult again = Vrexa({"remove", suspendedId});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_THAT(again.err, HasSubstr("no stored transfer " + suspendedId));
    // The files stay where the transfers left them.
    ExpectPackageIn(Dest("complete"), k1_);
}

// ---- the data folder is the user's alone ------------------------------------

mode_t ModeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

TEST_F(EndToEndTest, TheDataFolderIsPrivateAndOneThatIsALinkOrSomeoneElsesIsRefused) {
    TestHttpServer holding((root_ / "tree").string());
    for (const auto& [path, _] : k1_.files)
        holding.SetFault(k1_.Target(path), Fault().Status(404));
    ServeNodes({{"refusing", holding.Address(), "/packages/", true}});
    // A failed download leaves an entry and a log behind.
    ASSERT_EQ(Download(k1_, Dest("k1"), {"--retry", "0"}).exitCode, 1);
    const fs::path data = root_ / "cache/Quenlar/Vrexa";
    for (const fs::path& folder : {data.parent_path(), data, data / "transfers", data / "logs", data / "locks"})
        EXPECT_EQ(ModeOf(folder), 0700u) << folder;
    std::size_t files = 0;
    for (const fs::path& folder : {data / "transfers", data / "logs"}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path();
            ++files;
        }
    }
    EXPECT_EQ(files, 2u);

    // Someone else's folder, then a link to a folder holding a planted entry.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(data.c_str(), 65534, 65534), 0);
        const ChildResult foreign = Vrexa({"list"});
        EXPECT_EQ(foreign.exitCode, 1);
        EXPECT_THAT(foreign.err, HasSubstr(data.string() + " belongs to another user"));
        ASSERT_EQ(::chown(data.c_str(), 0, 0), 0);
    }
    fs::rename(data, root_ / "planted");
    fs::create_directory_symlink(root_ / "planted", data);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list"},
          {"prune"},
          {"download", "--partner", kPartner, "--package", "k1", Dest("other").string()}}) {
        const ChildResult refused = Vrexa(args);
        EXPECT_EQ(refused.exitCode, 1) << refused.out;
        EXPECT_THAT(refused.err, HasSubstr(data.string() + " is a symbolic link")) << args[0];
        EXPECT_EQ(refused.out, "") << args[0];
    }
    EXPECT_FALSE(fs::exists(Dest("other")));
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "planted/transfers"), fs::directory_iterator()), 1);
}

TEST_F(EndToEndTest, WithoutAnyHomeNothingIsWrittenAndTheReasonIsGiven) {
    // A user with no password database entry and neither $HOME nor
    // $XDG_CACHE_HOME: there is no folder of theirs, and a shared one is
    // never used instead.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as a user without a password database entry";
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv to change the user";
    const std::string tmp = fs::temp_directory_path().string();
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"list"}, {"download", "--partner", kPartner, "--package", "k1", "/nonexistent/d"}}) {
        std::vector<std::string> args = {"/usr/bin/setpriv", "--reuid=54321", "--regid=54321", "--clear-groups",
                                         VREXA_PROGRAM};
        args.insert(args.end(), command.begin(), command.end());
        std::map<std::string, std::string> environment = Environment();
        environment.erase("HOME");
        environment.erase("XDG_CACHE_HOME");
        ChildProcess child(args, environment);
        const ChildResult run = child.Finish(kRunDeadline);
        if (run.exitCode == 126 || run.err.find("Permission denied") != std::string::npos)
            GTEST_SKIP() << "the program cannot be run by another user here: " << run.err;
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr("the user has no home in the password database")) << command[0];
    }
    EXPECT_FALSE(fs::exists(fs::path(tmp) / "Quenlar"));
    EXPECT_FALSE(fs::exists("/Quenlar"));
}

// A node that answers badly, beside a healthy one.
struct FaultCase {
    std::string name;
    // Arms a faulty node for one published file; null: the node is down.
    std::function<void(TestHttpServer& node, const std::string& target, const std::string& data)> arm;
    // With no healthy node left: the exit code and the sentence vrexa must
    // print, as a pattern ("": the case runs beside a healthy node only).
    struct Alone {
        Alone(const char* says = "") : says(says) {}
        Alone(int code, std::string says) : code(code), says(std::move(says)) {}
        int code = 1;
        std::string says;
    } aloneError;
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

std::string Corrupted(std::string data) {
    for (std::size_t i = 0; i < data.size(); i += 997)
        data[i] = static_cast<char>(data[i] ^ 0x40);
    return data;
}

const std::vector<FaultCase>& FaultCases() {
    static const std::vector<FaultCase> cases = {
        {"Status503",
         [](TestHttpServer& n, const std::string& t, const std::string&) { n.SetFault(t, Fault().Status(503)); },
         {6, "the server failed to send http://127\\.0\\.0\\.1:[0-9]+/packages/[^ ]+ \\(HTTP 503\\)"}},
        {"Status404",
         [](TestHttpServer& n, const std::string& t, const std::string&) { n.SetFault(t, Fault().Status(404)); },
         {1, "the download node 127\\.0\\.0\\.1:[0-9]+ does not have http://[^ ]+ \\(HTTP 404\\)"}},
        {"ResetBeforeAnswer",
         [](TestHttpServer& n, const std::string& t, const std::string&) { n.SetFault(t, Fault().Reset()); }, ""},
        {"BodyCutShort",
         [](TestHttpServer& n, const std::string& t, const std::string&) { n.SetFault(t, Fault().Cut(100)); }, ""},
        {"BodyTooLong",
         [](TestHttpServer& n, const std::string& t, const std::string&) { n.SetFault(t, Fault().ExtraBytes(64)); },
         ""},
        {"CorruptedBytes",
         [](TestHttpServer& n, const std::string& t, const std::string& data) { n.SetBody(t, Corrupted(data)); },
         {1, "[^ ]+: bytes [0-9]+-[0-9]+ as the download nodes sent them do not match the package"}},
        // Other bytes with the CRC-32 of every chunk kept: only the SHA-256
        // the publisher writes tells them apart.
        {"CrcForgedBytes",
         [](TestHttpServer& n, const std::string& t, const std::string& data) {
             n.SetBody(t, testsupport::CrcForgedChunks(data, kChunk));
         },
         {1, "[^ ]+: bytes [0-9]+-[0-9]+ as the download nodes sent them do not match the package"}},
        {"StallBelowTheSpeedFloor",
         [](TestHttpServer& n, const std::string& t, const std::string&) { n.SetFault(t, Fault().Stall(100)); }, ""},
        {"NodeDown",
         nullptr,
         {6, "cannot connect to 127\\.0\\.0\\.1:[0-9]+: Failed to connect to 127\\.0\\.0\\.1 port [0-9]+[^\n]*"}},
        // A peer must not be able to end the transfer: an answer libcurl
        // cannot hold is that node's failure alone.
        {"HeaderOver100KB",
         [](TestHttpServer& n, const std::string& t, const std::string&) {
             n.SetFault(t, Fault().Header("X-Padding", std::string(200 * 1024, 'p')));
         },
         {6, "the request for http://[^ ]+ failed: [^\n]+"}},
        {"RedirectToFtp",
         [](TestHttpServer& n, const std::string& t, const std::string&) {
             n.SetFault(t, Fault().Redirect("ftp://127.0.0.1:9" + t));
         },
         ""},
        {"RedirectToALocalFile",
         [](TestHttpServer& n, const std::string& t, const std::string&) {
             n.SetFault(t, Fault().Redirect("file:///etc/hostname"));
         },
         ""},
    };
    return cases;
}

class EndToEndFaultyNodeTest : public EndToEndTest, public testing::WithParamInterface<FaultCase> {
protected:
    // Two faulty nodes, so that the optimizer's choice meets them early.
    std::vector<NetworkNode> FaultyNodes() {
        const FaultCase& fault = GetParam();
        std::vector<NetworkNode> nodes;
        for (int i = 0; i < 2; ++i) {
            const std::string id = "bad" + std::to_string(i + 1);
            if (!fault.arm) {
                down_.push_back(std::make_unique<ClosedPort>());
                nodes.push_back({id, "127.0.0.1:" + std::to_string(down_.back()->Port()), "/packages/", true});
                continue;
            }
            servers_.push_back(std::make_unique<TestHttpServer>((root_ / "tree").string()));
            for (const auto& [path, data] : k1_.files)
                fault.arm(*servers_.back(), k1_.Target(path), data);
            nodes.push_back({id, servers_.back()->Address(), "/packages/", true});
        }
        return nodes;
    }
    std::size_t FaultyChunkRequests() {
        std::size_t count = 0;
        for (const auto& server : servers_) {
            for (const auto& request : server->Requests())
                count += request.path.rfind("/packages/", 0) == 0 ? 1 : 0;
        }
        return count;
    }

    std::vector<std::unique_ptr<TestHttpServer>> servers_;
    std::vector<std::unique_ptr<ClosedPort>> down_;
};

TEST_P(EndToEndFaultyNodeTest, BesideAHealthyNodeThePackageArrivesWhole) {
    std::vector<NetworkNode> nodes = FaultyNodes();
    nodes.push_back(Network().Nodes().front());
    ServeNodes(nodes);
    const ChildResult run = Download(k1_, Dest("k1"), {"--retry", "5", "--retry-wait", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectPackageIn(Dest("k1"), k1_);
    if (GetParam().arm) {
        EXPECT_GT(FaultyChunkRequests(), 0u) << "the faulty nodes were never asked";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, EndToEndFaultyNodeTest, testing::ValuesIn(FaultCases()),
                         [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

class EndToEndNoHealthyNodeTest : public EndToEndFaultyNodeTest {};

TEST_P(EndToEndNoHealthyNodeTest, TheDownloadFailsNamingTheError) {
    ServeNodes(FaultyNodes());
    const ChildResult run = Download(k1_, Dest("k1"), {"--retry", "0"});
    EXPECT_EQ(run.exitCode, GetParam().aloneError.code) << run.err;
    EXPECT_THAT(run.err, testing::MatchesRegex(".*\nvrexa: " + GetParam().aloneError.says + "\n.*"));
    EXPECT_EQ(OutsideOf(Dest("k1")), std::set<std::string>{"keep.txt"});
    // A failed transfer leaves no program that may be started.
    std::error_code missing;
    const fs::perms mode = fs::status(Dest("k1") / k1_.run, missing).permissions();
    if (!missing) {
        EXPECT_EQ(mode & fs::perms::owner_exec, fs::perms::none) << k1_.run;
    }
}

// The numDataMismatches an analytics events document reports for each node
// host, summed over the documents received so far.
std::map<std::string, std::uint64_t> DataMismatchesByHost(const std::vector<testsupport::AnalyticsRecord>& records) {
    std::map<std::string, std::uint64_t> counts;
    for (const auto& record : records) {
        if (record.endpoint != "events") continue;
        const ptree body = ParseJson(record.body);
        if (body.empty() || !body.front().first.empty()) continue;  // not a batch with nodes
        for (const auto& [_, document] : body) {
            if (const auto cdn = document.get_optional<std::string>("dimensions.cdn")) {
                counts[*cdn] += document.get<std::uint64_t>("metrics.numDataMismatches");
            }
        }
    }
    return counts;
}

// An installed program whose bytes on disk were changed, updated from
// nodes that only forge: the download fails, and the program is left
// unstartable rather than executable with content no check has passed.
TEST_F(EndToEndTest, AFailedRepairLeavesNoExecutableProgramWithUncheckedContent) {
    ASSERT_EQ(Download(k1_, Dest("k1")).exitCode, 0);
    const fs::path run = Dest("k1") / k1_.run;
    ASSERT_NE(fs::status(run).permissions() & fs::perms::owner_exec, fs::perms::none);
    {
        std::fstream file(run, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file.put(static_cast<char>(k1_.files[k1_.run][100] ^ 0x5a));
    }
    TestHttpServer forging((root_ / "tree").string());
    for (const auto& [path, data] : k1_.files)
        forging.SetBody(k1_.Target(path), testsupport::CrcForgedChunks(data, kChunk));
    ServeNodes({{"forging", forging.Address(), "/packages/", true}});
    const ChildResult failed = Download(k1_, Dest("k1"), {"--retry", "0"});
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
    EXPECT_THAT(failed.err, testing::MatchesRegex(".*\nvrexa: setup/run.sh: bytes [0-9]+-[0-9]+ as the download nodes "
                                                  "sent them do not match the package\n.*"));
    EXPECT_EQ(fs::status(run).permissions() & fs::perms::owner_exec, fs::perms::none);

    // Repaired from a healthy node, it may be started again.
    ServeNodes(Network().Nodes());
    const ChildResult repaired = Download(k1_, Dest("k1"));
    ASSERT_EQ(repaired.exitCode, 0) << repaired.err;
    ExpectPackageIn(Dest("k1"), k1_);
    EXPECT_NE(fs::status(run).permissions() & fs::perms::owner_exec, fs::perms::none);
}

// Every chunk request to a forging node is counted as a data mismatch of
// that node, so the optimizer turns away from it; the healthy node has none.
TEST_F(EndToEndTest, ACrcForgingNodeIsCountedAsDataMismatchesAndTheHealthyOneServes) {
    TestHttpServer forging((root_ / "tree").string());
    for (const auto& [path, data] : k1_.files)
        forging.SetBody(k1_.Target(path), testsupport::CrcForgedChunks(data, kChunk));
    const NetworkNode healthy = Network().Nodes().front();
    ServeNodes({{"forging", forging.Address(), "/packages/", true}, healthy});
    const ChildResult run = Download(k1_, Dest("k1"), {"--retry", "5", "--retry-wait", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ExpectPackageIn(Dest("k1"), k1_);
    std::uint64_t asked = 0;
    for (const auto& request : forging.Requests())
        asked += request.path.rfind("/packages/", 0) == 0 ? 1 : 0;
    ASSERT_GT(asked, 0u) << "the forging node was never asked";
    const auto mismatches = DataMismatchesByHost(Network().AnalyticsRecords());
    ASSERT_TRUE(mismatches.count(forging.Address())) << "no node statistics for the forging node";
    EXPECT_EQ(mismatches.at(forging.Address()), asked);
    EXPECT_EQ(mismatches.count(healthy.host) ? mismatches.at(healthy.host) : 0u, 0u);
}

std::vector<FaultCase> AloneFaultCases() {
    std::vector<FaultCase> cases;
    for (const FaultCase& fault : FaultCases()) {
        if (!fault.aloneError.says.empty()) cases.push_back(fault);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Faults, EndToEndNoHealthyNodeTest, testing::ValuesIn(AloneFaultCases()),
                         [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// Ctrl-C or SIGTERM suspends the transfer and keeps it for resume; a second
// Ctrl-C while the first is being handled ends the program at once, and the
// stored transfer still resumes to the whole package.
struct InterruptCase {
    std::string name;
    std::vector<int> signals;
    int exitCode;  // 128 + the first signal, as a shell reports it
    std::string said;
};

class EndToEndInterruptTest : public EndToEndTest, public testing::WithParamInterface<InterruptCase> {};

TEST_P(EndToEndInterruptTest, KeepsTheTransferForResume) {
    // The only node answers so late that the download is still running
    // when the interrupt comes.
    TestHttpServer slow((root_ / "tree").string());
    for (const auto& [path, _] : k1_.files)
        slow.SetFault(k1_.Target(path), Fault().Delay(60));
    ServeNodes({{"slow", slow.Address(), "/packages/", true}});

    auto child = Start({"download", "--json", "--partner", kPartner, "--package", "k1", Dest("k1").string()});
    ASSERT_TRUE(
        child->WaitForLine([](const std::string& line) { return line.find("\"Transferring\"") != std::string::npos; },
                           std::chrono::seconds(60)));
    for (int signal : GetParam().signals)
        child->Signal(signal);
    const ChildResult interrupted = child->Finish(kRunDeadline);
    EXPECT_EQ(interrupted.exitCode, GetParam().exitCode) << interrupted.err;
    const std::string id = TransferIdIn(interrupted.err);
    ASSERT_EQ(id.size(), 32u) << interrupted.err;
    if (GetParam().signals.size() == 1) {
        EXPECT_THAT(interrupted.err, HasSubstr("\nvrexa: " + GetParam().said +
                                               "; the transfer is kept. Go on with: vrexa resume " + id + "\n"));
        // The last progress line keeps what was done.
        // The last status keeps what was done; then comes the final object.
        std::vector<std::string> lines;
        std::istringstream out(interrupted.out);
        for (std::string line; std::getline(out, line);)
            lines.push_back(line);
        ASSERT_GE(lines.size(), 2u) << interrupted.out;
        EXPECT_THAT(lines[lines.size() - 2], HasSubstr("\"state\":\"Suspended\""));
        EXPECT_THAT(lines[lines.size() - 2], testing::Not(HasSubstr("\"totalBytes\":0,")));
        EXPECT_EQ(lines.back(), "{\"exitCode\":" + std::to_string(GetParam().exitCode) + ",\"message\":\"" +
                                    GetParam().said + "\",\"transferId\":\"" + id + "\"}");
    }
    EXPECT_THAT(Vrexa({"list"}).out, HasSubstr(id + "\tk1\tv1\t" + Dest("k1").string()));

    ServeNodes(Network().Nodes());
    const ChildResult resumed = Vrexa({"resume", id});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    ExpectPackageIn(Dest("k1"), k1_);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndToEndInterruptTest,
                         testing::Values(InterruptCase{"CtrlC", {SIGINT}, 130, "interrupted"},
                                         InterruptCase{"Terminate", {SIGTERM}, 143, "terminated"},
                                         InterruptCase{"HangUp", {SIGHUP}, 129, "hung up"},
                                         InterruptCase{"CtrlCTwice", {SIGINT, SIGINT}, 130, ""}),
                         [](const testing::TestParamInfo<InterruptCase>& info) { return info.param.name; });

TEST_F(EndToEndTest, KilledAtRandomMomentsAResumeEndsBitIdenticalFetchingOnlyWhatWasInFlight) {
    // At least 64 MiB in chunks of 1 MiB, fetched by four threads: at most
    // four chunks are in flight when the process dies.
    Package big{"k3", "v1", "big.bin", 1024 * 1024, {}};
    big.files = {{"big.bin", Bytes(48 * 1024 * 1024 + 12345, 6)}, {"second.bin", Bytes(16 * 1024 * 1024, 7)}};
    ASSERT_NO_FATAL_FAILURE(Publish(big));
    const std::size_t threads = 4;
    const char* kills = std::getenv("VREXA_E2E_KILLS");
    const int killCount = kills != nullptr ? std::max(1, std::atoi(kills)) : 5;
    const char* seedText = std::getenv("VREXA_E2E_SEED");
    const unsigned seed =
        seedText != nullptr ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : std::random_device()();
    SCOPED_TRACE("VREXA_E2E_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    const std::uint64_t total = big.TotalBytes();

    // Each run's requests: the access log from where the run began. A
    // request the killed process left half-read is logged by nginx once it
    // notices; a request of our own after the kill, seen in the log, marks
    // the point by which everything before it is logged.
    std::vector<std::vector<AccessLine>> runs;
    std::uint64_t offset = LogSize();
    auto closeRun = [&](int index) {
        const std::string marker = "/end-of-run-" + std::to_string(index);
        testsupport::RunProgram(
            {"python3", "-c",
             "import urllib.request,sys\ntry: urllib.request.urlopen(sys.argv[1])\nexcept Exception: pass",
             "http://" + Network().Nodes().front().host + marker});
        std::vector<AccessLine> lines;
        ASSERT_TRUE(testsupport::Eventually([&] {
            std::uint64_t next = offset;
            lines = testsupport::ReadAccessLog(AccessLog(), offset, &next);
            if (std::none_of(lines.begin(), lines.end(), [&](const AccessLine& l) { return l.target == marker; })) {
                return false;
            }
            offset = next;
            return true;
        })) << "nginx never logged "
            << marker;
        std::vector<AccessLine> chunks;
        for (const AccessLine& line : lines) {
            if (line.target.rfind("/packages/", 0) == 0) chunks.push_back(line);
        }
        runs.push_back(chunks);
    };

    std::string id;
    bool complete = false;
    for (int kill = 0; kill < killCount && !complete; ++kill) {
        // A stored transfer goes on by its id; one killed before it was
        // started (and so stored) starts anew.
        std::vector<std::string> args =
            ResumeOrDownload(id, {"--partner", kPartner, "--package", "k3", Dest("k3").string()});
        args.insert(args.end(), {"--json", "--threads", std::to_string(threads)});
        const std::uint64_t at = std::uniform_int_distribution<std::uint64_t>(0, total - 1)(random);
        const auto [reached, result] = KillWhenCompleted(args, at, id);
        ASSERT_NO_FATAL_FAILURE(closeRun(kill));
        if (!reached) {
            // It ended before the moment came: the kill found nothing to end.
            ASSERT_EQ(result.exitCode, 0) << result.err;
            complete = true;
        } else {
            EXPECT_EQ(result.termSignal, SIGKILL);
        }
    }
    if (!complete) {
        const ChildResult last =
            Vrexa(ResumeOrDownload(id, {"--partner", kPartner, "--package", "k3", Dest("k3").string()}));
        ASSERT_EQ(last.exitCode, 0) << last.err;
        ASSERT_NO_FATAL_FAILURE(closeRun(killCount));
    }
    ExpectPackageIn(Dest("k3"), big);

    // A chunk fetched again after a kill was in flight in the run that was
    // killed: requested then, and not yet safely on disk. At most as many
    // as there are threads to fetch them.
    auto key = [](const AccessLine& line) { return line.target + " " + line.range; };
    ASSERT_FALSE(runs.empty());
    for (std::size_t run = 0; run + 1 < runs.size(); ++run) {
        std::set<std::string> requestedThen;
        for (const AccessLine& line : runs[run])
            requestedThen.insert(key(line));
        std::set<std::string> later;
        for (std::size_t after = run + 1; after < runs.size(); ++after) {
            for (const AccessLine& line : runs[after])
                later.insert(key(line));
        }
        std::size_t again = 0;
        for (const std::string& chunk : requestedThen)
            again += later.count(chunk);
        EXPECT_LE(again, threads) << "after kill " << run + 1;
        std::cout << "run " << run + 1 << ": " << runs[run].size() << " chunk requests, " << again
                  << " of them made again later\n";
    }
}

TEST_F(EndToEndTest, AFullDiskEndsWithInsufficientSpaceAndResumesOnceThereIsRoom) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs as the destination";
    const fs::path dest = Dest("small");
    fs::create_directories(dest);
    const auto mounted = testsupport::RunProgram({"mount", "-t", "tmpfs", "-o", "size=32k", "tmpfs", dest.string()});
    if (mounted.exitCode != 0) GTEST_SKIP() << "cannot mount a tmpfs here: " << mounted.err;
    struct Unmount {
        fs::path path;
        ~Unmount() { testsupport::RunProgram({"umount", "-l", path.string()}); }
    } unmount{dest};
    const std::set<std::string> before = OutsideOf(dest);

    const ChildResult full = Download(k1_, dest, {"--retry", "0"});
    EXPECT_EQ(full.exitCode, 7) << full.err;
    EXPECT_THAT(full.err,
                HasSubstr("\nvrexa: there is not enough free space in " + dest.string() + " for the package\n"));
    EXPECT_EQ(OutsideOf(dest), before);
    const std::string id = TransferIdIn(full.err);
    ASSERT_EQ(id.size(), 32u) << full.err;

    ASSERT_EQ(testsupport::RunProgram({"mount", "-o", "remount,size=4m", dest.string()}).exitCode, 0);
    const ChildResult resumed = Vrexa({"resume", id});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    ExpectPackageIn(dest, k1_);
}

TEST_F(EndToEndTest, AProxyFromTheEnvironmentCarriesEveryRequestUnlessTheHostIsExempt) {
    TestHttpServer proxy;
    const std::string proxyUrl = "http://" + proxy.Address();
    const std::uint64_t from = LogSize();
    const ChildResult proxied = Download(k1_, Dest("proxied"), {}, {{"http_proxy", proxyUrl}});
    ASSERT_EQ(proxied.exitCode, 0) << proxied.err;
    ExpectPackageIn(Dest("proxied"), k1_);

    const auto requests = proxy.Requests();
    std::set<std::string> targets;
    std::size_t chunks = 0;
    for (const auto& request : requests) {
        EXPECT_TRUE(request.proxied) << request.target;
        targets.insert(request.target);
        chunks += request.path.rfind("/packages/", 0) == 0 ? 1 : 0;
    }
    EXPECT_TRUE(targets.count("http://" + Network().ManifestHost() + "/manifests/k1/current.xml"));
    EXPECT_TRUE(targets.count("http://" + Network().ManifestHost() + "/nodes/p1.xml"));
    EXPECT_TRUE(targets.count(Network().GeolocationUrl()));
    EXPECT_EQ(chunks, ChunkRequests(from).size());
    EXPECT_GT(chunks, 0u);

    proxy.ClearRequests();
    const ChildResult direct = Download(k1_, Dest("direct"), {}, {{"http_proxy", proxyUrl}, {"no_proxy", "127.0.0.1"}});
    ASSERT_EQ(direct.exitCode, 0) << direct.err;
    ExpectPackageIn(Dest("direct"), k1_);
    EXPECT_TRUE(proxy.Requests().empty()) << proxy.Requests().size() << " requests through the proxy";
}

TEST_F(EndToEndTest, ACountryThePolicyBlocksEndsWithGeofenceBlocked) {
    Network().SetCountry("DE");
    const ChildResult blocked = Download(k2_, Dest("k2"), {"--retry", "0"});
    EXPECT_EQ(blocked.exitCode, 1) << blocked.err;
    EXPECT_THAT(blocked.err, HasSubstr("\nvrexa: package \"k2\" may not be downloaded from this country\n"));
    EXPECT_FALSE(fs::exists(Dest("k2") / "bin"));

    Network().SetCountry("SE");
    const ChildResult allowed = Download(k2_, Dest("k2"));
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
}

TEST_F(EndToEndTest, AnalyticsReceiveTheTransfersDocumentsInTheirShape) {
    const ChildResult run = Download(k1_, Dest("k1"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string id = TransferIdIn(run.err);
    const std::vector<std::string> eventKeys = {"pid", "pkgid", "vid", "vrexav", "osv", "metrics", "dimensions"};
    const std::vector<std::string> transferKeys = {"pid", "pkgid",  "vid",           "tid",     "vrexav",
                                                   "osv", "status", "transferBytes", "duration"};
    const std::vector<std::string> optimizerMetrics = {"bytes",
                                                       "successBytes",
                                                       "firstByteTime",
                                                       "requestTime",
                                                       "successTime",
                                                       "numRequests",
                                                       "numErrors",
                                                       "numConnectFailures",
                                                       "numHttpServerErrors",
                                                       "numConnectionsReset",
                                                       "numDataMismatches",
                                                       "numRequestTimeouts"};

    std::set<std::string> simpleMetrics;
    std::vector<std::string> statuses;
    std::uint64_t transferBytes = 0;
    std::set<std::string> cdns;
    for (const auto& record : Network().AnalyticsRecords()) {
        EXPECT_EQ(record.contentType, "application/json");
        const ptree body = ParseJson(record.body);
        if (record.endpoint == "transfer") {
            EXPECT_EQ(Keys(body), transferKeys) << record.body;
            EXPECT_EQ(body.get<std::string>("tid"), id);
            EXPECT_EQ(body.get<std::string>("pid"), kPartner);
            EXPECT_EQ(body.get<std::string>("pkgid"), "k1");
            EXPECT_EQ(body.get<std::string>("vrexav"), "1.3.4");
            statuses.push_back(body.get<std::string>("status"));
            transferBytes += body.get<std::uint64_t>("transferBytes");
            continue;
        }
        ASSERT_EQ(record.endpoint, "events");
        // One document, or a batch: the simple one first, then one per node.
        const bool batch = !body.empty() && body.front().first.empty();
        std::vector<const ptree*> documents;
        if (batch) {
            for (const auto& [_, element] : body)
                documents.push_back(&element);
        } else {
            documents.push_back(&body);
        }
        for (std::size_t i = 0; i < documents.size(); ++i) {
            const ptree& document = *documents[i];
            EXPECT_EQ(Keys(document), eventKeys) << record.body;
            EXPECT_EQ(document.get<std::string>("pkgid"), "k1");
            const ptree& metrics = document.get_child("metrics");
            if (i == 0) {
                ASSERT_EQ(metrics.size(), 1u) << record.body;
                EXPECT_EQ(metrics.front().second.data(), "1");
                simpleMetrics.insert(metrics.front().first);
            } else {
                EXPECT_EQ(Keys(metrics), optimizerMetrics) << record.body;
                cdns.insert(document.get<std::string>("dimensions.cdn"));
            }
        }
    }
    for (const char* metric : {"numInitializes", "numStarts", "numCompletes"})
        EXPECT_TRUE(simpleMetrics.count(metric)) << metric;
    EXPECT_THAT(statuses, testing::Contains("active"));
    EXPECT_THAT(statuses, testing::Contains("completed"));
    // What the transfer documents report adds up to what was downloaded.
    EXPECT_EQ(transferBytes, k1_.TotalBytes());
    std::set<std::string> hosts;
    for (const NetworkNode& node : Network().Nodes())
        hosts.insert(node.host);
    EXPECT_EQ(cdns, hosts);

    const std::size_t seen = Network().AnalyticsRecords().size();
    const ChildResult quiet = Download(k1_, Dest("quiet"), {"--no-analytics"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(Network().AnalyticsRecords().size(), seen);
}

struct HostileCase {
    std::string name;
    // Arms the hostile manifest host, given the real package manifest and
    // node list.
    std::function<void(testsupport::HostileHost& host, const std::string& manifest, const std::string& nodes)> arm;
};

void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

class EndToEndHostileHostTest : public EndToEndTest, public testing::WithParamInterface<HostileCase> {};

TEST_P(EndToEndHostileHostTest, EndsWithAClearErrorAndWritesNothingOutsideTheDestination) {
    const std::string manifest = FileText(root_ / "tree" / "manifests" / "k1" / "current.xml");
    const std::string nodes = FileText(Network().Folder() / "overlay" / "nodes" / "p1.xml");
    testsupport::HostileHost host;
    GetParam().arm(host, manifest, nodes);
    const std::set<std::string> before = OutsideOf(Dest("k1"));
    const ChildResult run = Download(k1_, Dest("k1"), {"--host", host.Address(), "--retry", "0"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    // A document too large is named by its URL; one that says something
    // unsafe is refused as a whole.
    EXPECT_THAT(run.err, testing::MatchesRegex(".*\nvrexa: (http://127\\.0\\.0\\.1:[0-9]+/[^ ]+ is not a document "
                                               "vrexa can use|the download network sent a document vrexa "
                                               "cannot use)\n"));
    EXPECT_EQ(OutsideOf(Dest("k1")), before);
    EXPECT_FALSE(fs::exists(root_ / "escape.bin"));
    EXPECT_FALSE(fs::exists(root_ / "dests" / "escape.bin"));
    // A client that kept reading an endless answer would still be at it;
    // one that stops at the largest document it takes has read at most
    // that (64 MiB) and what the socket buffers held, and one that asked
    // again for what was too large would have read it several times over.
    EXPECT_LT(host.LargestAnswer(), 80u << 20);
    EXPECT_LT(host.TotalAnswered(), 80u << 20);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, EndToEndHostileHostTest,
    testing::Values(
        HostileCase{"EndlessNodeList",
                    [](testsupport::HostileHost& host, const std::string& manifest, const std::string&) {
                        host.Serve("/manifests/k1/current.xml", manifest);
                        std::string filler;
                        while (filler.size() < 65536)
                            filler += "<NodeInfo><NodeId>n</NodeId><Host>127.0.0.1:9</Host></NodeInfo>";
                        host.ServeEndless("/nodes/p1.xml", "<?xml version=\"1.0\"?><ArrayOfNodeInfo>", filler);
                    }},
        HostileCase{"EndlessPackageManifest",
                    [](testsupport::HostileHost& host, const std::string&, const std::string& nodes) {
                        host.Serve("/nodes/p1.xml", nodes);
                        host.ServeEndless("/manifests/k1/current.xml", "<?xml version=\"1.0\"?><package><files>",
                                          std::string(65536, ' '));
                    }},
        HostileCase{"DeeplyNestedManifest",
                    [](testsupport::HostileHost& host, const std::string&, const std::string& nodes) {
                        std::string nested;
                        for (int i = 0; i < 100000; ++i)
                            nested += "<a>";
                        for (int i = 0; i < 100000; ++i)
                            nested += "</a>";
                        host.Serve("/nodes/p1.xml", nodes);
                        host.Serve("/manifests/k1/current.xml",
                                   "<?xml version=\"1.0\"?><package>" + nested + "</package>");
                    }},
        HostileCase{"NodePathClimbingOut",
                    [](testsupport::HostileHost& host, const std::string& manifest, const std::string& nodes) {
                        std::string climbing = nodes;
                        for (std::size_t at; (at = climbing.find("<Path>/packages/</Path>")) != std::string::npos;)
                            climbing.replace(at, 23, "<Path>/../../../../escape/</Path>");
                        host.Serve("/manifests/k1/current.xml", manifest);
                        host.Serve("/nodes/p1.xml", climbing);
                    }},
        HostileCase{"FilePathClimbingOut",
                    [](testsupport::HostileHost& host, const std::string& manifest, const std::string& nodes) {
                        host.Serve("/manifests/k1/current.xml", Replace(manifest, "data/full.bin", "../../escape.bin"));
                        host.Serve("/nodes/p1.xml", nodes);
                    }}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// Signed releases: the vendor's keys, made and used with the stock signing
// tool, beside the publisher's own signatures.
const std::string kMinisign = "/usr/bin/minisign";

class SignedEndToEndTest : public EndToEndTest {
protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        if (HasFatalFailure()) return;
        fs::create_directories(root_ / "keys");
        for (const char* name : {"vendor", "stranger"}) {
            const ChildResult made =
                Tool({kMinisign, "-G", "-W", "-f", "-p", KeyPath(name, ".pub"), "-s", KeyPath(name, ".key")});
            ASSERT_EQ(made.exitCode, 0) << made.err;
        }
        s1_ = {"s1", "v1", "setup/run.sh", kChunk, {}};
        s1_.files = {{"setup/run.sh", "#!/bin/sh\necho signed\n" + Bytes(30000, 6)}, {"data.bin", Bytes(50000, 7)}};
        ASSERT_NO_FATAL_FAILURE(
            Publish(s1_, {"--sign-key", KeyPath("vendor", ".key"), "--serial", "10", "--expires", "2"}));
        ASSERT_NO_FATAL_FAILURE(SignNodes("vendor", "kind=nodes id=" + kPartner + " serial=10 expires=" + Expires(1)));
    }

    std::string KeyPath(const std::string& name, const std::string& suffix) const {
        return (root_ / "keys" / (name + suffix)).string();
    }

    static std::string Expires(int days) {
        const auto now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        return std::to_string(now + days * 86400LL);
    }

    ChildResult Tool(const std::vector<std::string>& args) {
        ChildResult result =
            ChildProcess(args, {{"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"HOME", (root_ / "home").string()}})
                .Finish(kRunDeadline);
        EXPECT_FALSE(result.timedOut) << testing::PrintToString(args);
        return result;
    }

    // Signs file with the stock tool (pre-hashed, or the legacy form).
    void SignWithTool(const fs::path& file, const std::string& key, const std::string& comment, bool legacy = false) {
        std::vector<std::string> args = {kMinisign, "-S",          "-s", KeyPath(key, ".key"),
                                         "-m",      file.string(), "-t", comment};
        if (legacy) args.push_back("-l");
        const ChildResult signedFile = Tool(args);
        ASSERT_EQ(signedFile.exitCode, 0) << signedFile.err;
    }

    fs::path NodeList() { return Network().Folder() / "overlay" / "nodes" / (kPartner + ".xml"); }
    fs::path Current() { return root_ / "tree" / "manifests" / "s1" / "current.xml"; }
    static fs::path SignatureOf(const fs::path& file) { return fs::path(file.string() + ".minisig"); }

    void SignNodes(const std::string& key, const std::string& comment) {
        ASSERT_NO_FATAL_FAILURE(SignWithTool(NodeList(), key, comment));
    }
    void SignCurrent(const std::string& key, const std::string& comment, bool legacy = false) {
        ASSERT_NO_FATAL_FAILURE(SignWithTool(Current(), key, comment, legacy));
    }
    std::string PackageComment(const std::string& serial, const std::string& expires) {
        return "kind=package id=s1 version=v1 serial=" + serial + " expires=" + expires;
    }

    ChildResult SignedDownload(const fs::path& dest) {
        return Download(s1_, dest, {"--trusted-key", KeyPath("vendor", ".pub")});
    }

    Package s1_;
};

TEST_F(SignedEndToEndTest, WhatTheVendorSignedDownloadsAndNewerSerialsAreAccepted) {
    // The publisher's own signature, then the stock tool's in both forms
    // with rising serials; a vendor's comment may carry words of its own.
    struct Signing {
        const char* name;
        std::function<void()> sign;
    };
    const std::vector<Signing> signings = {
        {"publisher, serial 10", [] {}},
        {"tool pre-hashed, serial 11",
         [&] { SignCurrent("vendor", PackageComment("11", Expires(1)) + " channel=stable"); }},
        {"tool legacy, serial 12", [&] { SignCurrent("vendor", PackageComment("12", Expires(1)), true); }},
        {"tool, the same serial again", [&] { SignCurrent("vendor", PackageComment("12", Expires(1))); }},
    };
    int round = 0;
    for (const Signing& signing : signings) {
        SCOPED_TRACE(signing.name);
        ASSERT_NO_FATAL_FAILURE(signing.sign());
        const fs::path dest = Dest("s1-" + std::to_string(++round));
        const ChildResult run = SignedDownload(dest);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        ExpectPackageIn(dest, s1_);
    }
    // The highest serial is what this machine now holds on to.
    ASSERT_NO_FATAL_FAILURE(SignCurrent("vendor", PackageComment("11", Expires(1))));
    const ChildResult older = SignedDownload(Dest("s1-older"));
    EXPECT_EQ(older.exitCode, 4);
    EXPECT_THAT(older.err, HasSubstr("\nvrexa: older than one already seen (serial 11 < 12)\n"));
}

TEST_F(SignedEndToEndTest, EveryFlawIsRefusedBeforeAnyChunkIsRequested) {
    // Serial 10 accepted here first, so that a lower one is known as older.
    ASSERT_EQ(SignedDownload(Dest("accepted")).exitCode, 0);

    struct Flaw {
        const char* name;
        std::function<void()> make;
        std::string message;
    };
    const std::string nodesUrl = "http://" + Network().ManifestHost() + "/nodes/" + kPartner + ".xml.minisig";
    const std::vector<Flaw> flaws = {
        // Serials of refused documents are never kept: each row after a
        // refusal with a higher serial is still accepted at serial 10.
        {"untrusted key", [&] { SignCurrent("stranger", PackageComment("30", Expires(1))); },
         "signature by an untrusted key"},
        {"missing signature", [&] { fs::remove(SignatureOf(Current())); },
         "no signature at http://" + Network().ManifestHost() + "/manifests/s1/current.xml.minisig (HTTP 404)"},
        {"changed document",
         [&] {
             std::string text = FileText(Current());
             text.replace(text.find("Package s1"), 10, "Package X1");
             std::ofstream(Current(), std::ios::binary | std::ios::trunc) << text;
         },
         "the signature does not match the document"},
        {"comment for another package",
         [&] { SignCurrent("vendor", "kind=package id=k1 version=v1 serial=10 expires=" + Expires(1)); },
         "signature is for \"k1\", not \"s1\""},
        {"comment for another version",
         [&] { SignCurrent("vendor", "kind=package id=s1 version=v0 serial=20 expires=" + Expires(1)); },
         "signature is for version \"v0\", not \"v1\""},
        {"node list comment on a manifest",
         [&] { SignCurrent("vendor", "kind=nodes id=s1 serial=10 expires=" + Expires(1)); },
         "signature is for a document of kind \"nodes\", not \"package\""},
        {"manifest without strong hashes",
         [&] {
             // What a manifest of an older publisher holds: CRC-32s only,
             // which anyone can make any bytes match.
             const std::string text =
                 std::regex_replace(FileText(Current()), std::regex("<sha256>[0-9a-f]*</sha256>"), "");
             std::ofstream(Current(), std::ios::binary | std::ios::trunc) << text;
             SignCurrent("vendor", PackageComment("10", Expires(1)));
         },
         "the signed manifest gives no SHA-256s for \"data.bin\""},
        {"expired comment", [&] { SignCurrent("vendor", PackageComment("10", Expires(-1))); }, "manifest expired on "},
        {"lower serial", [&] { SignCurrent("vendor", PackageComment("5", Expires(1))); },
         "older than one already seen (serial 5 < 10)"},
        {"unsigned node list", [&] { fs::remove(SignatureOf(NodeList())); }, "no signature at " + nodesUrl},
        {"node list of another partner",
         [&] { SignNodes("vendor", "kind=nodes id=p2 serial=10 expires=" + Expires(1)); },
         "signature is for \"p2\", not \"" + kPartner + "\""},
    };
    const std::string genuineCurrent = FileText(Current());
    for (const Flaw& flaw : flaws) {
        SCOPED_TRACE(flaw.name);
        ASSERT_NO_FATAL_FAILURE(flaw.make());
        const std::uint64_t from = LogSize();
        const fs::path dest = Dest(std::string("refused-") + flaw.name);
        const ChildResult run = SignedDownload(dest);
        EXPECT_EQ(run.exitCode, 4) << run.err;
        EXPECT_THAT(run.err, HasSubstr("\nvrexa: " + flaw.message));
        EXPECT_TRUE(ChunkRequests(from).empty()) << ChunkRequests(from).size() << " chunk requests";
        EXPECT_FALSE(fs::exists(dest / s1_.run)) << "a refused package left its run file";
        EXPECT_EQ(FileText(root_ / "cache" / "Quenlar/Vrexa/signature-serials"), "nodes p1 10\npackage s1 10\n");

        // Back to the genuine documents, signed as the vendor did.
        std::ofstream(Current(), std::ios::binary | std::ios::trunc) << genuineCurrent;
        ASSERT_NO_FATAL_FAILURE(SignCurrent("vendor", PackageComment("10", Expires(1))));
        ASSERT_NO_FATAL_FAILURE(SignNodes("vendor", "kind=nodes id=" + kPartner + " serial=10 expires=" + Expires(1)));
    }
    // Without a trusted key nothing is asked of the documents, signed or not.
    fs::remove(SignatureOf(Current()));
    const ChildResult plain = Download(s1_, Dest("plain"));
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    ExpectPackageIn(Dest("plain"), s1_);
}

TEST_F(SignedEndToEndTest, ThePublishersSignaturesVerifyWithTheStockTool) {
    const Package k3{"k3", "v2", "bin/installer", kChunk, k2_.files};
    ASSERT_NO_FATAL_FAILURE(
        Publish(k3, {"--sign-key", KeyPath("vendor", ".key"), "--node", "n1=127.0.0.1:9/packages/"}));
    for (const std::string document : {"manifests/s1/v1.xml", "manifests/s1/current.xml", "manifests/k3/v2.xml",
                                       "manifests/k3/current.xml", "nodes/p1.xml"}) {
        SCOPED_TRACE(document);
        const ChildResult checked =
            Tool({kMinisign, "-V", "-p", KeyPath("vendor", ".pub"), "-m", (root_ / "tree" / document).string()});
        EXPECT_EQ(checked.exitCode, 0) << checked.err;
        EXPECT_THAT(checked.out,
                    HasSubstr(document.rfind("nodes", 0) == 0 ? "kind=nodes id=p1 serial=" : "kind=package id="));
        // A changed byte is caught by the stock tool as well.
        const fs::path copy = root_ / "changed.xml";
        fs::copy_file(root_ / "tree" / document, copy, fs::copy_options::overwrite_existing);
        fs::copy_file(SignatureOf(root_ / "tree" / document), SignatureOf(copy), fs::copy_options::overwrite_existing);
        std::ofstream(copy, std::ios::app) << " ";
        EXPECT_NE(Tool({kMinisign, "-V", "-p", KeyPath("vendor", ".pub"), "-m", copy.string()}).exitCode, 0);
    }
}

TEST_F(SignedEndToEndTest, ThePublisherOpensAnEncryptedKeyWithThePasswordFromItsEnvironment) {
    // The stock tool asks for the password twice on its input.
    const std::string made = "printf 'open sesame\\nopen sesame\\n' | " + kMinisign + " -G -f -p '" +
                             KeyPath("sealed", ".pub") + "' -s '" + KeyPath("sealed", ".key") + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(made.c_str()), 0);
    const Package k4{"k4", "v1", "bin/installer", kChunk, k2_.files};
    const fs::path source = root_ / "source" / "k4";
    for (const auto& [path, data] : k4.files) {
        fs::create_directories((source / path).parent_path());
        std::ofstream(source / path, std::ios::binary) << data;
    }
    struct Case {
        const char* name;
        const char* password;  // null: not set
        int exitCode;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no password", nullptr, 1, "is encrypted: give its password in VREXA_SIGN_PASSWORD"},
        {"wrong password", "open barley", 1, "wrong password for the secret key"},
        {"its password", "open sesame", 0, ""},
    };
    const fs::path manifest = root_ / "tree" / "manifests" / "k4" / "v1.xml";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.password) {
            ::setenv("VREXA_SIGN_PASSWORD", c.password, 1);
        } else {
            ::unsetenv("VREXA_SIGN_PASSWORD");
        }
        const auto published = testsupport::RunPublisher({"--partner", kPartner, "--package", "k4", "--version", "v1",
                                                          "--name", "K4", "--sign-key", KeyPath("sealed", ".key"),
                                                          source.string(), (root_ / "tree").string()});
        ::unsetenv("VREXA_SIGN_PASSWORD");
        EXPECT_EQ(published.exitCode, c.exitCode) << published.err;
        if (c.exitCode != 0) {
            EXPECT_THAT(published.err, HasSubstr(c.message));
            EXPECT_FALSE(fs::exists(manifest)) << "published with a key it could not open";
        }
    }
    const ChildResult checked = Tool({kMinisign, "-V", "-p", KeyPath("sealed", ".pub"), "-m", manifest.string()});
    EXPECT_EQ(checked.exitCode, 0) << checked.err;
}

// Over HTTPS the servers' certificates are checked: the network's own
// authority must be trusted, by --cacert or by SSL_CERT_FILE, and without it
// nothing is fetched.
class EndToEndTlsTest : public EndToEndTest {
protected:
    EndToEndTlsTest() { tls_ = true; }
};

TEST_F(EndToEndTlsTest, HttpsWorksWithTheAuthorityTrustedAndFailsOnTheCertificateWithout) {
    ASSERT_FALSE(Network().CaFile().empty());
    ASSERT_EQ(Network().ManifestHost().rfind("https://", 0), 0u) << Network().ManifestHost();
    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::map<std::string, std::string> environment;
        bool trusted;
    };
    const Case cases[] = {
        {"cacert", {"--cacert", Network().CaFile()}, {}, true},
        {"SSL_CERT_FILE", {}, {{"SSL_CERT_FILE", Network().CaFile()}}, true},
        {"system authorities only", {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::uint64_t from = LogSize();
        std::vector<std::string> args = {"--retry", "0"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ChildResult run = Download(k1_, Dest(c.name), args, c.environment);
        if (c.trusted) {
            ASSERT_EQ(run.exitCode, 0) << run.err;
            ExpectPackageIn(Dest(c.name), k1_);
            EXPECT_FALSE(ChunkRequests(from).empty());
        } else {
            EXPECT_EQ(run.exitCode, 6) << run.err;
            // The TLS layer's refusal of the certificate, in libcurl's words.
            EXPECT_THAT(run.err, testing::MatchesRegex(".*\nvrexa: the secure connection to 127.0.0.1:[0-9]+ failed: "
                                                       "SSL certificate problem: [^\n]+\n"));
            EXPECT_TRUE(testsupport::ReadAccessLog(AccessLog(), from).empty());
        }
    }
}

// Updates take what they can from the old version already on disk (and from
// --reuse-from folders) instead of fetching it, wherever the bytes moved.
struct UpdateCase {
    std::string name;
    std::map<std::string, std::string> old;    // in the destination before the update
    std::map<std::string, std::string> reuse;  // in a --reuse-from folder
    std::map<std::string, std::string> fresh;  // the new version
    std::size_t requests;                      // chunk requests the update makes
};

void PrintTo(const UpdateCase& c, std::ostream* out) { *out << c.name; }

std::vector<UpdateCase> UpdateCases() {
    const std::string a = Bytes(8 * kChunk + 500, 21);
    const std::string b = Bytes(3 * kChunk, 22);
    const std::string c = Bytes(kChunk, 23);
    const std::string d = Bytes(2 * kChunk + 7, 24);
    const std::string small = Bytes(3000, 25);
    return {
        // Every chunk after the inserted byte moved by one; the last,
        // shorter one is found at the end of the old file.
        {"OneByteInserted", {{"app.bin", a}}, {}, {{"app.bin", a.substr(0, 100) + "!" + a.substr(100)}}, 1},
        {"BytesDeleted", {{"app.bin", a}}, {}, {{"app.bin", a.substr(0, 5000) + a.substr(5100)}}, 1},
        {"ChunksMovedWithinAFile",
         {{"app.bin", a}},
         {},
         {{"app.bin", a.substr(3 * kChunk, 3 * kChunk) + a.substr(0, 3 * kChunk) + a.substr(6 * kChunk)}},
         0},
        {"FileRenamed", {{"old/app.bin", a}}, {}, {{"new/app.bin", a}}, 0},
        {"DuplicateChunksInTheNewVersion",
         {{"app.bin", a}},
         {},
         {{"app.bin", a.substr(0, 2 * kChunk) + a.substr(0, 2 * kChunk) + a.substr(2 * kChunk)}},
         0},
        {"AChunkPresentTwiceInTheOldVersion",
         {{"app.bin", c + c + d}},
         {},
         {{"app.bin", b.substr(0, kChunk) + c + d}},
         1},
        {"AnOldFileShorterThanOneChunk", {{"readme.txt", small}}, {}, {{"docs/readme.txt", small}}, 0},
        {"AnEmptyOldFolder", {}, {}, {{"app.bin", a}}, 9},
        // The folder's link leads to a file holding a, which must not be
        // read: a is fetched whole, b is taken from the folder.
        {"AReuseFolderWithALinkInIt", {}, {{"real.bin", b}}, {{"app.bin", a}, {"b.bin", b}}, 9},
        {"NothingChanged", {{"app.bin", a}, {"b.bin", b}}, {}, {{"app.bin", a}, {"b.bin", b}}, 0},
    };
}

class EndToEndUpdateTest : public EndToEndTest, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(EndToEndUpdateTest, EndsBitIdenticalFetchingOnlyWhatIsNowhereOnDisk) {
    const UpdateCase& c = GetParam();
    Package fresh{"d1", "v2", c.fresh.begin()->first, kChunk, c.fresh};
    ASSERT_NO_FATAL_FAILURE(Publish(fresh));
    const fs::path dest = Dest("d1");
    fs::create_directories(dest);
    for (const auto& [path, data] : c.old) {
        fs::create_directories((dest / path).parent_path());
        std::ofstream(dest / path, std::ios::binary) << data;
    }
    std::vector<std::string> extra = {"--version", "v2", "--json"};
    const fs::path reuse = root_ / "reuse";
    const std::string outsideBytes = Bytes(8 * kChunk + 500, 21);
    if (!c.reuse.empty()) {
        for (const auto& [path, data] : c.reuse) {
            fs::create_directories((reuse / path).parent_path());
            std::ofstream(reuse / path, std::ios::binary) << data;
        }
        fs::create_directories(root_ / "outside");
        std::ofstream(root_ / "outside" / "a.bin", std::ios::binary) << outsideBytes;
        fs::create_symlink(root_ / "outside" / "a.bin", reuse / "link.bin");
        fs::create_directory_symlink(root_ / "outside", reuse / "linked-folder");
        extra.insert(extra.end(), {"--reuse-from", reuse.string()});
    }
    const std::uint64_t from = LogSize();
    const ChildResult run = Download(fresh, dest, extra);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const auto files = testsupport::ReadTree(dest);
    for (const auto& [path, data] : c.fresh) {
        const auto found = files.find(path);
        ASSERT_NE(found, files.end()) << path;
        EXPECT_TRUE(found->second == data) << path << " differs";
    }
    // Old files the new version does not have stay; nothing is left aside.
    for (const auto& [path, data] : c.old) {
        if (c.fresh.count(path) == 0) {
            EXPECT_TRUE(files.at(path) == data) << path;
        }
    }
    EXPECT_FALSE(fs::exists(dest / ".vrexa-old"));
    if (!c.reuse.empty()) {
        EXPECT_TRUE(FileText(root_ / "outside" / "a.bin") == outsideBytes);
    }

    const auto requests = ChunkRequests(from);
    EXPECT_EQ(requests.size(), c.requests);
    std::uint64_t fetched = 0;
    for (const AccessLine& line : requests)
        fetched += line.bytesSent;
    // The last status line (the final object after it holds only the exit
    // code): what came over the network and what was reused add up to the
    // package.
    const std::size_t lastStatus = run.out.rfind("{\"transferId\"", run.out.rfind("\"downloadedBytes\""));
    ASSERT_NE(lastStatus, std::string::npos) << run.out;
    const ptree status = ParseJson(run.out.substr(lastStatus, run.out.find('\n', lastStatus) - lastStatus));
    EXPECT_EQ(status.get<std::uint64_t>("downloadedBytes"), fetched);
    std::uint64_t inPlace = 0;
    for (const auto& [path, data] : c.fresh) {
        const auto before = c.old.find(path);
        if (before != c.old.end() && before->second == data) inPlace += data.size();
    }
    EXPECT_EQ(status.get<std::uint64_t>("reusedBytes") + fetched + inPlace, fresh.TotalBytes());
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEndUpdateTest, testing::ValuesIn(UpdateCases()),
                         [](const testing::TestParamInfo<UpdateCase>& info) { return info.param.name; });

// An update written into the folder of the old version, killed with SIGKILL
// at random moments and run again: at every kill each old file is whole,
// at its place or kept aside, and the last run ends with the new version.
TEST_F(EndToEndTest, AnInPlaceUpdateKilledAtAnyMomentLosesNothingAndEndsBitIdentical) {
    const std::uint32_t chunk = 1024 * 1024;
    const std::string big = Bytes(40 * chunk + 777, 31);
    const std::string second = Bytes(8 * chunk, 32);
    const std::map<std::string, std::string> old = {{"app.bin", big}, {"lib/second.bin", second}};
    Package fresh{"d2", "v2", "new.bin", chunk, {}};
    std::string changed = big.substr(0, 100) + "!" + big.substr(100);
    changed.replace(20 * chunk, 3000, Bytes(3000, 33));
    fresh.files = {{"app.bin", changed}, {"moved/second.bin", second}, {"new.bin", Bytes(3 * chunk, 34)}};
    ASSERT_NO_FATAL_FAILURE(Publish(fresh));
    const fs::path dest = Dest("d2");
    for (const auto& [path, data] : old) {
        fs::create_directories((dest / path).parent_path());
        std::ofstream(dest / path, std::ios::binary) << data;
    }
    const char* seedText = std::getenv("VREXA_E2E_SEED");
    const unsigned seed =
        seedText != nullptr ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : std::random_device()();
    SCOPED_TRACE("VREXA_E2E_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);

    const auto oldIsWhole = [&] {
        // Once the new version is complete, the old one may go.
        const bool newComplete = std::all_of(fresh.files.begin(), fresh.files.end(), [&](const auto& file) {
            return fs::exists(dest / file.first) && FileText(dest / file.first) == file.second;
        });
        if (newComplete) return;
        for (const auto& [path, data] : old) {
            const bool inPlace = fs::exists(dest / path) && FileText(dest / path) == data;
            const fs::path aside = dest / ".vrexa-old" / "v2" / path;
            const bool keptAside = fs::exists(aside) && FileText(aside) == data;
            EXPECT_TRUE(inPlace || keptAside) << path << " lost";
        }
    };
    std::string id;
    bool complete = false;
    for (int kill = 0; kill < 4 && !complete; ++kill) {
        const std::vector<std::string> download = {"--partner", kPartner, "--package",  "d2",
                                                   "--version", "v2",     dest.string()};
        std::vector<std::string> args = ResumeOrDownload(id, download);
        args.insert(args.end(), {"--json", "--threads", "2"});
        const std::uint64_t at = std::uniform_int_distribution<std::uint64_t>(0, fresh.TotalBytes() - 1)(random);
        const auto [reached, result] = KillWhenCompleted(args, at, id);
        if (!reached) {
            ASSERT_EQ(result.exitCode, 0) << result.err;
            complete = true;
        } else {
            EXPECT_EQ(result.termSignal, SIGKILL);
            oldIsWhole();
        }
    }
    if (!complete) {
        const ChildResult last =
            Vrexa(ResumeOrDownload(id, {"--partner", kPartner, "--package", "d2", "--version", "v2", dest.string()}));
        ASSERT_EQ(last.exitCode, 0) << last.err;
    }
    for (const auto& [path, data] : fresh.files) {
        EXPECT_TRUE(FileText(dest / path) == data) << path << " differs";
    }
    EXPECT_FALSE(fs::exists(dest / ".vrexa-old"));
}

}  // namespace
}  // namespace vrexa
