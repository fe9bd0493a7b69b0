// One file of 1 GiB (VREXA_BENCH_MIB to change) published with 1 MiB chunks
// and served by four nginx nodes of the local download network, fetched
// - by the engine's file works (preallocated output, chunk checks before and
//   after every download), with the default settings and with the thread
//   count the updater uses;
// - by the engine again over the complete file (every chunk checked, nothing
//   fetched);
// - by aria2c with 8 connections over the four nodes and 1 MiB pieces, and
//   by aria2c checking the complete file against its SHA-1;
// - by curl as one stream from one node.
// Wall time and CPU time (user + system) of each, in one run on one machine.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <boost/property_tree/xml_parser.hpp>

#include "manifest/StandardNodeManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "tests/support/TestFolder.h"
#include "tests/support/network/LocalNetwork.h"
#include "workflow/TransferMultipleFilesWork.h"
#include "workflow/tests/DownloadHarness.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
    double wall = 0;  // seconds
    double cpu = 0;   // seconds, user + system
    bool ok = false;
};

double Seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

double OwnCpu() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Runs a program to its end; its CPU time from wait4.
Figures RunTool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return {};
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Figures figures;
    figures.wall = std::chrono::duration<double>(Clock::now() - start).count();
    figures.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

bool SameContent(const fs::path& a, const fs::path& b) {
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    std::vector<char> x(1 << 20);
    std::vector<char> y(1 << 20);
    while (left && right) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() || !std::equal(x.begin(), x.begin() + left.gcount(), y.begin())) {
            return false;
        }
    }
    return !left && !right;
}

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) {
            out += buffer;
        }
        ::pclose(pipe);
    }
    return out;
}

struct Bench {
    vrexa::testsupport::TestFolder folder;
    fs::path root{folder.Path()};
    std::uint64_t size = 0;
    std::unique_ptr<vrexa::testsupport::LocalNetwork> network;
    std::shared_ptr<vrexa::PackageManifest> package;
    vrexa::NodeListManifest::Nodes nodes;

    fs::path Source() const { return root / "tree/packages/p/k/v/data.bin"; }

    // The engine's file subtree into dest, with threads transfer threads.
    Figures Engine(const fs::path& dest, int threads) {
        auto transfer = std::make_shared<vrexa::downloadtest::DownloadTransfer>();
        transfer->Params().partnerId = "p";
        transfer->Params().packageId = "k";
        transfer->Params().versionId = "v";
        transfer->Params().destPath = dest.string();
        transfer->package_ = package;
        transfer->nodes_ = std::make_shared<vrexa::downloadtest::FixedNodes>(nodes);
        vrexa::TransferBehavior& behavior = transfer->GetBehavior();
        // The engine's own timeouts, not the tests' short ones.
        const vrexa::TransferSettings defaults;
        static_cast<vrexa::TransferSettings&>(behavior) = defaults;
        behavior.transferThreads = threads;
        transfer->Finish();
        fs::create_directories(dest);
        const double cpu = OwnCpu();
        const auto start = Clock::now();
        const auto outcome = vrexa::downloadtest::RunTree(std::make_shared<vrexa::TransferMultipleFilesWork>(transfer),
                                                          static_cast<unsigned>(behavior.transferThreads),
                                                          behavior.maxRunningWorks, std::chrono::seconds(600));
        Figures figures;
        figures.wall = std::chrono::duration<double>(Clock::now() - start).count();
        figures.cpu = OwnCpu() - cpu;
        figures.ok = outcome.finished && outcome.status.result == vrexa::WorkResult::Success &&
                     transfer->progress_->verified.load() == size;
        std::cerr << "  engine (" << threads << " threads): requests at once up to "
                  << transfer->requests_.highest.load() << ", downloaded " << transfer->progress_->downloaded.load()
                  << " bytes\n";
        return figures;
    }
};

void Print(const char* name, const Figures& f, std::uint64_t size, bool same) {
    const double mib = static_cast<double>(size) / (1 << 20);
    std::printf("%-44s %8.2f s wall %8.2f s cpu %9.1f MiB/s  %s\n", name, f.wall, f.cpu, f.wall > 0 ? mib / f.wall : 0,
                !f.ok ? "FAILED" : (same ? "identical" : "DIFFERENT"));
}

}  // namespace

int main() {
    Bench bench;
    const char* mibText = std::getenv("VREXA_BENCH_MIB");
    bench.size = static_cast<std::uint64_t>(mibText ? std::atoi(mibText) : 1024) << 20;
    {
        fs::create_directories(bench.root / "source");
        std::ofstream out(bench.root / "source/data.bin", std::ios::binary);
        std::mt19937_64 random(1);
        std::vector<std::uint64_t> block(1 << 17);
        for (std::uint64_t written = 0; written < bench.size; written += block.size() * 8) {
            for (auto& word : block) {
                word = random();
            }
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    const auto published = vrexa::testsupport::RunPublisher(
        {"--partner", "p", "--package", "k", "--version", "v", "--name", "Bench", "--chunk-size", "1048576",
         (bench.root / "source").string(), (bench.root / "tree").string()});
    if (published.exitCode != 0) {
        std::cerr << "publishing failed: " << published.err << "\n";
        return 1;
    }
    fs::remove_all(bench.root / "source");
    vrexa::testsupport::LocalNetworkOptions options;
    options.tree = bench.root / "tree";
    options.nodes = 4;
    bench.network = std::make_unique<vrexa::testsupport::LocalNetwork>(options);
    boost::property_tree::ptree tree;
    boost::property_tree::read_xml((bench.root / "tree/manifests/k/current.xml").string(), tree);
    auto package = std::make_shared<vrexa::StandardPackageManifest>();
    package->Read(tree);
    bench.package = package;
    std::vector<std::string> urls;
    for (const auto& node : bench.network->Nodes()) {
        bench.nodes.push_back(std::make_shared<vrexa::StandardNodeManifest>(node.id, node.host, node.path));
        urls.push_back("http://" + node.host + node.path + "p/k/v/data.bin");
    }
    // Every server reads the file from the page cache, for every tool alike.
    Run("cat '" + bench.Source().string() + "' > /dev/null");

    std::printf("%llu MiB from %zu local nginx nodes, %u hardware threads\n",
                static_cast<unsigned long long>(bench.size >> 20), urls.size(), std::thread::hardware_concurrency());
    const int threads = vrexa::TransferSettings::DefaultParallelism();
    const fs::path engineDest = bench.root / "engine";
    Figures f = bench.Engine(engineDest, threads);
    Print("engine, default settings", f, bench.size, SameContent(engineDest / "data.bin", bench.Source()));
    fs::remove_all(engineDest);
    f = bench.Engine(engineDest, 2 * threads);
    Print("engine, transfer threads doubled (updater)", f, bench.size,
          SameContent(engineDest / "data.bin", bench.Source()));
    f = bench.Engine(engineDest, 2 * threads);
    Print("engine over the complete file (check only)", f, bench.size,
          SameContent(engineDest / "data.bin", bench.Source()));
    fs::remove_all(engineDest);

    const fs::path ariaDest = bench.root / "aria2c";
    std::vector<std::string> aria = {"aria2c",
                                     "-q",
                                     "-x",
                                     "8",
                                     "-s",
                                     "8",
                                     "-k",
                                     "1M",
                                     "--file-allocation=falloc",
                                     "--allow-overwrite=true",
                                     "--auto-file-renaming=false",
                                     "-d",
                                     ariaDest.string(),
                                     "-o",
                                     "data.bin"};
    aria.insert(aria.end(), urls.begin(), urls.end());
    f = RunTool(aria);
    Print("aria2c, 8 connections, 1 MiB pieces", f, bench.size, SameContent(ariaDest / "data.bin", bench.Source()));
    const std::string sha1 = Run("sha1sum '" + bench.Source().string() + "' | cut -d' ' -f1");
    std::vector<std::string> ariaCheck = {"aria2c",
                                          "-q",
                                          "--check-integrity=true",
                                          "--checksum=sha-1=" + sha1.substr(0, 40),
                                          "--allow-overwrite=false",
                                          "--auto-file-renaming=false",
                                          "-d",
                                          ariaDest.string(),
                                          "-o",
                                          "data.bin",
                                          urls.front()};
    f = RunTool(ariaCheck);
    Print("aria2c over the complete file (SHA-1 check)", f, bench.size,
          SameContent(ariaDest / "data.bin", bench.Source()));
    fs::remove_all(ariaDest);

    const fs::path curlDest = bench.root / "curl.bin";
    f = RunTool({"curl", "-s", "-f", "-o", curlDest.string(), urls.front()});
    Print("curl, one stream", f, bench.size, SameContent(curlDest, bench.Source()));
    fs::remove(curlDest);

    bench.network.reset();
    return 0;
}
