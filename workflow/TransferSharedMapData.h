#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "optimizer/ChunkRange.h"
#include "work/WorkDescriptor.h"

namespace vrexa {

namespace file {
class MemoryMappedData;
}  // namespace file

class TransferProgressUpdater;
class TransferSharedFileData;

// What the works of one chunk share: the chunk's range and checksum, its
// window on the file while one is open, and how many of its bytes are
// counted in the transfer's progress. The window is dropped by the release
// step and, on another thread, by the teardown of the file work, so it is
// reached only through the accessors; a step takes its own reference for as
// long as it uses the window.
class TransferSharedMapData : public WorkDescriptor, public ChunkRange {
public:
    TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                          std::uint64_t upperBound, std::uint32_t expectedChecksum,
                          std::shared_ptr<TransferProgressUpdater> progress);

    // The file's keys, then "lowerBound", "upperBound", "expectedChecksum"
    // (hexadecimal) and "fileProgressBytes".
    void Describe(boost::property_tree::ptree& tree) const override;
    std::string GetFilePath() const override;

    std::shared_ptr<file::MemoryMappedData> GetWindow() const;
    void SetWindow(std::shared_ptr<file::MemoryMappedData> window);
    // Empties the window pointer and returns what it held.
    std::shared_ptr<file::MemoryMappedData> TakeWindow();

    std::uint64_t GetLength() const { return upperBound - lowerBound + 1; }

    // Bytes a request wrote into the window: counted as completed and
    // downloaded.
    void AddWritten(std::uint64_t bytes);
    // Before every request attempt and after a mismatch: back to the chunk's
    // first byte, with nothing of it counted as completed.
    void ResetProgress(file::MemoryMappedData& window);
    // After a match: the chunk counts exactly its length as completed and
    // verified, however often it was fetched.
    void SettleProgress();

    const std::shared_ptr<TransferSharedFileData> fileData;
    const std::uint32_t expectedChecksum;
    const std::shared_ptr<TransferProgressUpdater> progress;
    // Read by log threads while the writer adds to it.
    std::atomic<std::uint64_t> fileProgressBytes{0};

private:
    mutable std::mutex mutex_;
    std::shared_ptr<file::MemoryMappedData> window_;
};

}  // namespace vrexa
