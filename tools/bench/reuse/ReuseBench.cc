// The scan that finds a package's chunks in old content, on one old file of
// VREXA_BENCH_REUSE_MIB MiB (1024 unless set) in 1 MiB chunks with a SHA-256
// each, beside the plain check of the same bytes (CRC-32 and SHA-256 of every
// chunk, what verification does per byte), both on two threads:
//   unrelated  the new version shares nothing with the old file: every
//              offset is rolled over (the worst case)
//   renamed    the same bytes under another path
//   inserted   one byte inserted near the start: every chunk after it moved
// Prints wall seconds, the scanned bytes, what was found, the index's own
// memory and the process's peak RSS. The old file is read once first, so
// every pass reads it from the page cache.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "file/ReadOnlyFile.h"
#include "manifest/ChunkChecksum.h"
#include "manifest/ChunkSha256.h"
#include "workflow/ReuseIndex.h"
#include "workflow/tests/TestPackages.h"

namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kChunk = 1 << 20;

// Cuts a stream of bytes into chunks and records each one's digests.
class Digester {
public:
    explicit Digester(vrexa::testing::DigestFileEntry& file) : file_(file) {}
    void Add(const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            const std::size_t take = std::min<std::size_t>(size, kChunk - filled_);
            crc_ = vrexa::ChunkChecksum(data, take, crc_);
            sha_.Update(data, take);
            filled_ += take;
            data += take;
            size -= take;
            file_.size += take;
            if (filled_ == kChunk) Close();
        }
    }
    void Finish() {
        if (filled_ > 0) Close();
    }

private:
    void Close() {
        file_.checksums.push_back(crc_);
        file_.sha256s.push_back(sha_.Finish());
        crc_ = 0;
        filled_ = 0;
    }
    vrexa::testing::DigestFileEntry& file_;
    std::uint32_t crc_ = 0;
    vrexa::ChunkSha256 sha_;
    std::size_t filled_ = 0;
};

void RandomBlock(std::mt19937_64& random, std::vector<std::uint8_t>& block) {
    for (std::size_t at = 0; at + 8 <= block.size(); at += 8) {
        const std::uint64_t word = random();
        std::memcpy(&block[at], &word, 8);
    }
}

double Seconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double PeakRssMib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main() {
    const char* mibText = std::getenv("VREXA_BENCH_REUSE_MIB");
    const std::uint64_t size = (mibText != nullptr ? std::strtoull(mibText, nullptr, 10) : 1024) << 20;
    const fs::path folder = fs::temp_directory_path() / ("vrexa-reuse-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::vector<std::uint8_t> block(kChunk);
    {
        std::ofstream out(folder / "old.bin", std::ios::binary);
        std::mt19937_64 random(1);
        for (std::uint64_t done = 0; done < size; done += kChunk) {
            RandomBlock(random, block);
            out.write(reinterpret_cast<const char*>(block.data()), kChunk);
        }
    }
    const auto old = vrexa::file::ReadOnlyFile::OpenBeneath(folder.string(), "old.bin");

    // The plain check: CRC-32 and SHA-256 of every chunk, on two threads as
    // verification spreads its chunks over the cores (also warms the cache).
    const auto checkHalf = [&](std::uint64_t from, std::uint64_t to) {
        std::vector<std::uint8_t> buffer(kChunk);
        for (std::uint64_t at = from; at < to; at += kChunk) {
            old->ReadAt(buffer.data(), kChunk, at);
            volatile std::uint32_t crc = vrexa::ChunkChecksum(buffer.data(), kChunk);
            (void)crc;
            (void)vrexa::ChunkSha256Of(buffer.data(), kChunk);
        }
    };
    double check = 0;
    for (int pass = 0; pass < 2; ++pass) {
        check = Seconds([&] {
            const std::uint64_t middle = size / 2 / kChunk * kChunk;
            std::thread second(checkHalf, middle, size);
            checkHalf(0, middle);
            second.join();
        });
    }
    std::printf("old content %llu MiB, chunks of 1 MiB with SHA-256\n", static_cast<unsigned long long>(size >> 20));
    std::printf("%-10s %8s %10s %8s %12s %10s\n", "case", "seconds", "x check", "found", "index KiB", "scanned MiB");
    std::printf("%-10s %8.3f %10s %8s %12s %10s\n", "check", check, "1.00", "", "", "");

    struct Case {
        const char* name;
        std::function<void(Digester&)> stream;
    };
    const std::vector<Case> cases = {
        {"unrelated",
         [&](Digester& digester) {
             std::mt19937_64 random(2);
             for (std::uint64_t done = 0; done < size; done += kChunk) {
                 RandomBlock(random, block);
                 digester.Add(block.data(), kChunk);
             }
         }},
        {"renamed",
         [&](Digester& digester) {
             for (std::uint64_t at = 0; at < size; at += kChunk) {
                 old->ReadAt(block.data(), kChunk, at);
                 digester.Add(block.data(), kChunk);
             }
         }},
        {"inserted",
         [&](Digester& digester) {
             for (std::uint64_t at = 0; at < size; at += kChunk) {
                 old->ReadAt(block.data(), kChunk, at);
                 if (at == 0) {
                     digester.Add(block.data(), 100);
                     const std::uint8_t extra = '!';
                     digester.Add(&extra, 1);
                     digester.Add(block.data() + 100, kChunk - 100);
                 } else {
                     digester.Add(block.data(), kChunk);
                 }
             }
         }},
    };
    for (const Case& c : cases) {
        vrexa::testing::DigestFileEntry file{"new.bin", 0, kChunk, {}, {}};
        Digester digester(file);
        c.stream(digester);
        digester.Finish();
        const std::size_t chunks = file.checksums.size();
        const auto package = vrexa::testing::MakeDigestPackage({std::move(file)});
        std::unique_ptr<vrexa::ReuseIndex> index;
        const double scan = Seconds([&] {
            index = std::make_unique<vrexa::ReuseIndex>(*package);
            index->Scan({folder.string(), "old.bin", ""});
        });
        const auto figures = index->GetFigures();
        std::printf("%-10s %8.3f %10.2f %4llu/%-4zu %12.1f %10.1f\n", c.name, scan, scan / check,
                    static_cast<unsigned long long>(figures.foundChunks), chunks,
                    static_cast<double>(figures.indexBytes) / 1024.0,
                    static_cast<double>(figures.scannedBytes) / (1 << 20));
    }
    std::printf("peak RSS %.1f MiB (includes the 1 MiB buffers and the mapped slices of the old file)\n", PeakRssMib());
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
