// Checking a complete package on disk: one file (1 GiB unless
// VREXA_BENCH_VERIFY_MIB says otherwise) in 1 MiB chunks, through the
// verification workflow with the engine's default parallelism, and aria2c
// checking the same file against SHA-1 hashes of 1 MiB pieces in the same run.
// The file is read once before the first measurement, so both read it from
// the page cache.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "tests/support/network/LocalNetwork.h"
#include "workflow/VerifyTransferWorkflowFactory.h"
#include "workflow/tests/WorkflowHarness.h"

namespace {

namespace fs = std::filesystem;
using vrexa::testing::WorkflowHarness;

std::uint64_t FileSize() {
    const char* mib = std::getenv("VREXA_BENCH_VERIFY_MIB");
    return (mib != nullptr ? std::strtoull(mib, nullptr, 10) : 1024) << 20;
}

struct Setup {
    Setup() {
        const fs::path source = fs::path(folder.Path()) / "tree-source";
        fs::create_directories(source);
        {
            std::ofstream out(source / "data.bin", std::ios::binary);
            std::mt19937_64 random(1);
            std::string block(1 << 20, '\0');
            for (std::uint64_t done = 0; done < size; done += block.size()) {
                for (std::size_t at = 0; at + 8 <= block.size(); at += 8) {
                    const std::uint64_t word = random();
                    block.replace(at, 8, reinterpret_cast<const char*>(&word), 8);
                }
                out.write(block.data(),
                          static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - done)));
            }
        }
        // Publishing reads the source folder; Publish writes its own copy, so
        // the package's files are published from there and checked in place.
        const auto published = vrexa::testsupport::RunPublisher(
            {"--partner", "p1", "--package", "k1", "--version", "v1", "--name", "Bench", "--chunk-size",
             std::to_string(1 << 20), source.string(), (fs::path(folder.Path()) / "tree").string()});
        if (published.exitCode != 0) {
            throw std::runtime_error("publishing failed: " + published.err);
        }
        vrexa::testsupport::LocalNetworkOptions options;
        options.tree = fs::path(folder.Path()) / "tree";
        options.nodes = 1;
        options.partners = {"p1"};
        network = std::make_unique<vrexa::testsupport::LocalNetwork>(options);
        harness = std::make_unique<WorkflowHarness>(network->ManifestHost(), network->GeolocationUrl());
        dest = source;
        WriteMetalink();
        vrexa::testing::ReadFile(dest / "data.bin");  // into the page cache
    }

    // A metalink of the file with SHA-1 piece hashes for aria2c, computed by
    // Python's hashlib so that no hash code of ours is involved.
    void WriteMetalink() {
        const fs::path script = fs::path(folder.Path()) / "meta4.py";
        std::ofstream(script) << R"(import hashlib, sys
path, out, url = sys.argv[1:4]
pieces = []
with open(path, 'rb') as f:
    while True:
        block = f.read(1 << 20)
        if not block:
            break
        pieces.append(hashlib.sha1(block).hexdigest())
import os
size = os.path.getsize(path)
hashes = ''.join('<hash>%s</hash>' % p for p in pieces)
open(out, 'w').write('<?xml version="1.0"?><metalink xmlns="urn:ietf:params:xml:ns:metalink">'
    '<file name="data.bin"><size>%d</size><pieces length="1048576" type="sha-1">%s</pieces>'
    '<url>%s</url></file></metalink>' % (size, hashes, url))
)";
        metalink = fs::path(folder.Path()) / "data.meta4";
        const std::string url =
            "http://" + network->Nodes().front().host + network->Nodes().front().path + "p1/k1/v1/data.bin";
        const auto made = vrexa::testsupport::RunProgram(
            {"python3", script.string(), (dest / "data.bin").string(), metalink.string(), url});
        if (made.exitCode != 0) {
            throw std::runtime_error("metalink failed: " + made.err);
        }
    }

    const std::uint64_t size = FileSize();
    vrexa::testsupport::TestFolder folder;
    std::unique_ptr<vrexa::testsupport::LocalNetwork> network;
    std::unique_ptr<WorkflowHarness> harness;
    fs::path dest;
    fs::path metalink;
};

// CPU seconds (user + system) of this process or of its waited-for children.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Setup& Shared() {
    static Setup setup;
    return setup;
}

void VerifyWorkflow(benchmark::State& state) {
    Setup& setup = Shared();
    vrexa::VerifyTransferWorkflowFactory factory;
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        auto transfer = setup.harness->NewTransfer("v1", setup.dest.string());
        setup.harness->Run(factory, transfer);
        if (!transfer->Outcome() || transfer->Outcome()->result != vrexa::WorkResult::Success ||
            transfer->progress->verified.load() != setup.size) {
            state.SkipWithError("the verification did not pass");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.size));
    // Every thread of the process, the work manager's included.
    state.counters["cpu_s"] =
        benchmark::Counter((CpuSeconds(RUSAGE_SELF) - cpuBefore) /
                           static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations())));
    state.SetLabel("engine, verification workflow");
}
BENCHMARK(VerifyWorkflow)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void Aria2cCheckIntegrity(benchmark::State& state) {
    Setup& setup = Shared();
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        const auto checked = vrexa::testsupport::RunProgram(
            {"aria2c", "--check-integrity=true", "--allow-overwrite=false", "--auto-file-renaming=false",
             "--console-log-level=warn", "--summary-interval=0", "--dir", setup.dest.string(), "-M",
             setup.metalink.string()});
        if (checked.exitCode != 0) {
            state.SkipWithError(("aria2c failed: " + checked.err).c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.size));
    state.counters["cpu_s"] =
        benchmark::Counter((CpuSeconds(RUSAGE_CHILDREN) - cpuBefore) /
                           static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations())));
    state.SetLabel("aria2c --check-integrity, SHA-1 of 1 MiB pieces");
}
BENCHMARK(Aria2cCheckIntegrity)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
