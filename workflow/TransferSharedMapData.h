#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "manifest/ChunkSha256.h"
#include "manifest/Sha256Digest.h"
#include "optimizer/ChunkRange.h"
#include "work/WorkDescriptor.h"

namespace vrexa {

namespace file {
class MemoryMappedData;
}  // namespace file

class TransferProgressUpdater;
class TransferSharedFileData;

// What one check of a chunk's bytes found: their CRC-32 and, when the chunk
// has a SHA-256 to match, their SHA-256.
struct ChunkDigests {
    std::uint32_t checksum = 0;
    std::optional<Sha256Digest> sha256;
};

// What the works of one chunk share: the chunk's range, checksum and hash, its
// window on the file while one is open, and how many of its bytes are
// counted in the transfer's progress. The window is dropped by the release
// step and, on another thread, by the teardown of the file work, so it is
// reached only through the accessors; a step takes its own reference for as
// long as it uses the window.
class TransferSharedMapData : public WorkDescriptor, public ChunkRange {
public:
    TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                          std::uint64_t upperBound, std::uint32_t expectedChecksum,
                          std::shared_ptr<TransferProgressUpdater> progress,
                          std::optional<Sha256Digest> expectedSha256 = std::nullopt);

    // The file's keys, then "lowerBound", "upperBound", "expectedChecksum"
    // (hexadecimal) and "fileProgressBytes".
    void Describe(boost::property_tree::ptree& tree) const override;
    std::string GetFilePath() const override;

    std::shared_ptr<file::MemoryMappedData> GetWindow() const;
    void SetWindow(std::shared_ptr<file::MemoryMappedData> window);
    // Empties the window pointer and returns what it held.
    std::shared_ptr<file::MemoryMappedData> TakeWindow();

    std::uint64_t GetLength() const { return upperBound - lowerBound + 1; }

    // Bytes a request wrote into the window, in order from the chunk's first
    // byte: counted as completed and downloaded, and added to the digests of
    // what was written.
    void AddWritten(const void* data, std::uint64_t bytes);
    // The digests of the chunk as written since the last reset, once the
    // writes cover exactly the whole chunk: the digests of the window's
    // bytes, without reading them back.
    std::optional<ChunkDigests> WrittenDigests();
    // The digests of the window's bytes, read through it.
    ChunkDigests ReadDigests(file::MemoryMappedData& window) const;
    // The digests of the chunk's length of zero bytes.
    ChunkDigests ZeroDigests() const;
    // Whether digests show the chunk the manifest describes: the CRC-32 and,
    // where the chunk has one, the SHA-256 both match.
    bool Matches(const ChunkDigests& actual) const;
    // Before every request attempt and after a mismatch: back to the chunk's
    // first byte, with nothing of it counted as completed.
    void ResetProgress(file::MemoryMappedData& window);
    // After a match: the chunk counts exactly its length as completed and
    // verified, however often it was fetched.
    void SettleProgress();

    const std::shared_ptr<TransferSharedFileData> fileData;
    const std::uint32_t expectedChecksum;
    const std::optional<Sha256Digest> expectedSha256;
    const std::shared_ptr<TransferProgressUpdater> progress;
    // Read by log threads while the writer adds to it.
    std::atomic<std::uint64_t> fileProgressBytes{0};

private:
    // Touched only by the chunk's own steps, which run one after another.
    std::uint32_t writtenChecksum_ = 0;
    // Only for a chunk with a hash to match; finished once the chunk is
    // complete, the result kept until the next reset.
    std::optional<ChunkSha256> writtenHash_;
    std::optional<Sha256Digest> writtenSha256_;
    mutable std::mutex mutex_;
    std::shared_ptr<file::MemoryMappedData> window_;
};

}  // namespace vrexa
