// Throughput of the chunk windows: 1 GiB written through 1 MiB mapped views of
// a preallocated file and read back through views after Fetch, beside the
// same sizes moved by bare mmap calls, plain descriptor I/O and dd in the same
// run. And the cost of opening a package's file below the destination
// without following links, beside a plain open of its whole path.
//
//   vrexa_file_bench [--benchmark_...]   (folder: $VREXA_BENCH_DIR, else the temp folder)

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>

#include "file/MemoryMappedData.h"
#include "file/SharedFile.h"
#include "file/posix/FilesystemImpl.h"

namespace {

namespace fs = boost::filesystem;
using vrexa::file::OpenMode;

constexpr std::uint64_t kChunk = 1 << 20;
constexpr std::uint64_t kTotal = std::uint64_t{1} << 30;

const std::string& Folder() {
    static const std::string folder = [] {
        const char* chosen = std::getenv("VREXA_BENCH_DIR");
        const fs::path base = chosen ? fs::path(chosen) : fs::temp_directory_path();
        const fs::path path = fs::unique_path(base / "vrexa-file-bench-%%%%%%");
        fs::create_directories(path);
        return path.string();
    }();
    return folder;
}

std::string PathOf(const char* name) { return Folder() + "/" + name; }

std::vector<std::uint8_t> Payload() {
    std::vector<std::uint8_t> bytes(kChunk);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    return bytes;
}

void WriteThroughViews(benchmark::State& state) {
    vrexa::file::posix::FilesystemImpl filesystem;
    const auto payload = Payload();
    for (auto _ : state) {
        fs::remove(PathOf("mapped.bin"));
        const auto file = filesystem.OpenSharedFile(Folder(), "mapped.bin", OpenMode::CreateNew, true, 0, kTotal - 1);
        file->Preallocate(kTotal);
        for (std::uint64_t lower = 0; lower < kTotal; lower += kChunk) {
            const auto view = file->Map(lower, lower + kChunk - 1);
            view->Write(payload.data(), payload.size());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void ReadThroughViewsWithFetch(benchmark::State& state) {
    vrexa::file::posix::FilesystemImpl filesystem;
    const auto file = filesystem.OpenSharedFile(Folder(), "mapped.bin", OpenMode::OpenExisting, true, 0, kTotal - 1);
    if (file->GetSize() != kTotal) {
        state.SkipWithError("run the write benchmark first");
        return;
    }
    std::uint64_t sum = 0;
    for (auto _ : state) {
        for (std::uint64_t lower = 0; lower < kTotal; lower += kChunk) {
            const auto view = file->Map(lower, lower + kChunk - 1);
            view->Fetch();
            // What the checksum step does: read every byte of the window.
            view->Visit([&](const std::uint8_t* data, std::size_t size) {
                const auto* words = reinterpret_cast<const std::uint64_t*>(data);
                for (std::size_t i = 0; i < size / 8; ++i) {
                    sum += words[i];
                }
            });
        }
    }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

// The same writes through bare mmap calls: what the views cost beyond the
// kernel's own page faults.
void BareMmapWrite(benchmark::State& state) {
    const auto payload = Payload();
    for (auto _ : state) {
        ::unlink(PathOf("bare.bin").c_str());
        const int descriptor = ::open(PathOf("bare.bin").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (::posix_fallocate(descriptor, 0, static_cast<off_t>(kTotal)) != 0) {
            state.SkipWithError("fallocate failed");
        }
        for (std::uint64_t at = 0; at < kTotal; at += kChunk) {
            void* view =
                ::mmap(nullptr, kChunk, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, static_cast<off_t>(at));
            std::memcpy(view, payload.data(), payload.size());
            ::munmap(view, kChunk);
        }
        ::close(descriptor);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void PlainDescriptorWrite(benchmark::State& state) {
    const auto payload = Payload();
    for (auto _ : state) {
        const int descriptor = ::open(PathOf("plain.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        for (std::uint64_t at = 0; at < kTotal; at += kChunk) {
            if (::pwrite(descriptor, payload.data(), payload.size(), static_cast<off_t>(at)) !=
                static_cast<ssize_t>(payload.size())) {
                state.SkipWithError("write failed");
            }
        }
        ::close(descriptor);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void PlainDescriptorRead(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(kChunk);
    std::uint64_t sum = 0;
    for (auto _ : state) {
        const int descriptor = ::open(PathOf("plain.bin").c_str(), O_RDONLY | O_CLOEXEC);
        for (std::uint64_t at = 0; at < kTotal; at += kChunk) {
            if (::pread(descriptor, buffer.data(), buffer.size(), static_cast<off_t>(at)) !=
                static_cast<ssize_t>(buffer.size())) {
                state.SkipWithError("read failed");
            }
            const auto* words = reinterpret_cast<const std::uint64_t*>(buffer.data());
            for (std::size_t i = 0; i < buffer.size() / 8; ++i) {
                sum += words[i];
            }
        }
        ::close(descriptor);
    }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

constexpr int kSmallFiles = 1000;

std::string SmallFile(int i) { return "tree/level/f" + std::to_string(i) + ".bin"; }

void MakeSmallFiles() {
    fs::create_directories(PathOf("tree/level"));
    for (int i = 0; i < kSmallFiles; ++i) {
        ::close(::open(PathOf(SmallFile(i).c_str()).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
}

// Per file: the destination's descriptor, the file below it (one call where
// the kernel resolves beneath a folder), its type checked, the shared file.
void OpenBelowTheFolder(benchmark::State& state) {
    MakeSmallFiles();
    vrexa::file::posix::FilesystemImpl filesystem;
    for (auto _ : state) {
        for (int i = 0; i < kSmallFiles; ++i) {
            benchmark::DoNotOptimize(
                filesystem.OpenSharedFile(Folder(), SmallFile(i), OpenMode::OpenOrCreate, true, 0, 0));
        }
    }
    state.SetItemsProcessed(state.iterations() * kSmallFiles);
}

// The same files opened by their whole path, links and all.
void PlainOpenByPath(benchmark::State& state) {
    MakeSmallFiles();
    for (auto _ : state) {
        for (int i = 0; i < kSmallFiles; ++i) {
            const int descriptor = ::open(PathOf(SmallFile(i).c_str()).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            benchmark::DoNotOptimize(descriptor);
            ::close(descriptor);
        }
    }
    state.SetItemsProcessed(state.iterations() * kSmallFiles);
}

void Dd(benchmark::State& state, const std::string& arguments) {
    const std::string command = "dd " + arguments + " bs=1M count=1024 status=none";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("dd failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void DdWrite(benchmark::State& state) { Dd(state, "if=/dev/zero of=" + PathOf("dd.bin")); }
void DdRead(benchmark::State& state) { Dd(state, "if=" + PathOf("dd.bin") + " of=/dev/null"); }

}  // namespace

BENCHMARK(WriteThroughViews)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadThroughViewsWithFetch)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareMmapWrite)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainDescriptorWrite)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainDescriptorRead)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DdWrite)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DdRead)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpenBelowTheFolder)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(PlainOpenByPath)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    boost::system::error_code ignored;
    fs::remove_all(Folder(), ignored);
    return 0;
}
