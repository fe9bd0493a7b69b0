// How fast a folder is published: every byte is read once, checksummed per
// chunk, written and flushed to disk. Reported as bytes per second of package
// content, by chunk size and by file count (many small files cost more per
// byte than a few large ones).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/TestFolder.h"
#include "tools/publish/Publisher.h"

namespace {

namespace fs = std::filesystem;

class Tree {
public:
    Tree(std::size_t files, std::size_t bytesPerFile) {
        std::mt19937_64 random(1);
        std::string data(bytesPerFile, '\0');
        for (std::size_t i = 0; i < files; ++i) {
            for (std::size_t at = 0; at + 8 <= data.size(); at += 8) {
                std::uint64_t word = random();
                data.replace(at, 8, reinterpret_cast<const char*>(&word), 8);
            }
            fs::path path = root_ / "source" / ("dir" + std::to_string(i % 16)) / ("file" + std::to_string(i));
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << data;
        }
    }
    const fs::path& root() const { return root_; }

private:
    vrexa::testsupport::TestFolder folder_;
    fs::path root_{folder_.Path()};
};

void PublishTree(benchmark::State& state) {
    const std::size_t files = static_cast<std::size_t>(state.range(0));
    const std::size_t totalBytes = 64 << 20;
    const std::uint32_t chunkSize = static_cast<std::uint32_t>(state.range(1));
    Tree tree(files, totalBytes / files);
    int version = 0;
    for (auto _ : state) {
        vrexa::publish::PublishOptions options;
        options.partnerId = "p";
        options.packageId = "k";
        options.versionId = "v" + std::to_string(version++);
        options.name = "Bench";
        options.chunkSize = chunkSize;
        options.sourceDir = tree.root() / "source";
        options.outputDir = tree.root() / "output";
        auto result = vrexa::publish::Publish(options);
        benchmark::DoNotOptimize(result.totalBytes);
        state.PauseTiming();
        fs::remove_all(options.outputDir);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(totalBytes));
}
BENCHMARK(PublishTree)
    ->ArgNames({"files", "chunk"})
    ->Args({4, 1 << 20})
    ->Args({4, 64 << 10})
    ->Args({1024, 1 << 20})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
