// Chunk checksum throughput next to the reference CRC, and the cost of reading
// a large package manifest (time and peak resident memory).
//
//   vrexa_manifest_bench [--benchmark_filter=...]

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <malloc.h>

#include <benchmark/benchmark.h>
#include <boost/crc.hpp>

#include "manifest/ChunkChecksum.h"
#include "manifest/StandardPackageManifest.h"
#include "manifest/tests/TreeDocuments.h"

namespace {

constexpr std::size_t kMiB = 1 << 20;

const std::vector<unsigned char>& Buffer() {
    static const std::vector<unsigned char> buffer = [] {
        std::vector<unsigned char> bytes(kMiB);
        std::mt19937 engine(1);
        for (auto& b : bytes)
            b = static_cast<unsigned char>(engine());
        return bytes;
    }();
    return buffer;
}

void BM_ChunkChecksum1MiB(benchmark::State& state) {
    const auto& buffer = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(vrexa::ChunkChecksum(buffer.data(), buffer.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kMiB);
}
BENCHMARK(BM_ChunkChecksum1MiB);

void BM_ReferenceCrc1MiB(benchmark::State& state) {
    const auto& buffer = Buffer();
    for (auto _ : state) {
        boost::crc_32_type crc;
        crc.process_bytes(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(crc.checksum());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kMiB);
}
BENCHMARK(BM_ReferenceCrc1MiB);

// A package of 100 000 files of 0 to 4 MiB in 1 MiB chunks (about 2.5 chunks a
// file), every field an element as the manifest server writes them.
const std::string& LargePackage() {
    static const std::string document = [] {
        constexpr int kFiles = 100000;
        std::mt19937 engine(2);
        std::uniform_int_distribution<std::uint64_t> sizes(0, 4 * kMiB);
        std::string files;
        files.reserve(kFiles * 150);
        char group[9];
        for (int i = 0; i < kFiles; ++i) {
            const std::uint64_t size = sizes(engine);
            const std::uint64_t chunks = (size + kMiB - 1) / kMiB;
            std::string checksums;
            for (std::uint64_t c = 0; c < chunks; ++c) {
                std::snprintf(group, sizeof group, "%08x", static_cast<unsigned>(engine()));
                checksums += group;
            }
            files += vrexa::testing::FileXml(
                "content/folder" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".dat", std::to_string(kMiB),
                std::to_string(size), checksums);
        }
        return vrexa::testing::PackageXml(files, "<run>content/folder0/file0.dat</run>");
    }();
    return document;
}

// Resident-set figures of this process, in bytes, from /proc/self/status.
std::uint64_t StatusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
    return 0;
}

// Lets the next peak be measured from the current resident size.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Runs `build` as the timed part of one iteration and returns how far the
// resident set peaked above where it stood before; what was built is released
// outside the timing.
template <typename Build>
std::uint64_t TimedPeakGrowth(benchmark::State& state, std::uint64_t& peak, Build&& build) {
    state.PauseTiming();
    const std::uint64_t before = StatusBytes("VmRSS");
    ResetPeak();
    state.ResumeTiming();
    {
        const auto built = build();
        benchmark::DoNotOptimize(built.get());
        state.PauseTiming();
    }
    const std::uint64_t hwm = StatusBytes("VmHWM");
    state.ResumeTiming();
    peak = std::max(peak, hwm);
    return hwm - std::min(hwm, before);
}

void BM_ReadPackageManifest100k(benchmark::State& state) {
    const std::string& document = LargePackage();
    std::uint64_t peak = 0;
    std::uint64_t growth = 0;
    for (auto _ : state) {
        growth = std::max(growth, TimedPeakGrowth(state, peak, [&] {
                              auto manifest = std::make_unique<vrexa::StandardPackageManifest>();
                              manifest->Read(vrexa::testing::XmlTree(document));
                              if (manifest->GetFiles().size() != 100000) state.SkipWithError("files lost");
                              return manifest;
                          }));
    }
    state.counters["document_MB"] = static_cast<double>(document.size()) / 1e6;
    state.counters["peak_rss_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["peak_growth_MB"] = static_cast<double>(growth) / 1e6;
}
BENCHMARK(BM_ReadPackageManifest100k)->Unit(benchmark::kMillisecond)->Iterations(5);

// The two halves of the above: the document into a tree, and the manifest's own
// reading rules over a tree that is already there.
void BM_XmlTree100k(benchmark::State& state) {
    const std::string& document = LargePackage();
    std::uint64_t peak = 0;
    std::uint64_t growth = 0;
    for (auto _ : state) {
        growth = std::max(growth, TimedPeakGrowth(state, peak, [&] {
                              return std::make_unique<boost::property_tree::ptree>(vrexa::testing::XmlTree(document));
                          }));
    }
    state.counters["peak_growth_MB"] = static_cast<double>(growth) / 1e6;
}
BENCHMARK(BM_XmlTree100k)->Unit(benchmark::kMillisecond)->Iterations(5);

// Heap bytes in use, to tell what the manifest model itself keeps (freed memory
// that stays resident hides it from the resident-set figures).
std::uint64_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void BM_ReadPackageManifest100kFromTree(benchmark::State& state) {
    const auto tree = vrexa::testing::XmlTree(LargePackage());
    std::uint64_t kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::uint64_t before = HeapInUse();
        state.ResumeTiming();
        {
            vrexa::StandardPackageManifest manifest;
            manifest.Read(tree);
            benchmark::DoNotOptimize(manifest.GetTotalSize());
            state.PauseTiming();
            kept = HeapInUse() - before;
        }
        state.ResumeTiming();
    }
    state.counters["model_MB"] = static_cast<double>(kept) / 1e6;
}
BENCHMARK(BM_ReadPackageManifest100kFromTree)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
