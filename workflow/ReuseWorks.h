#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "work/ConditionalWork.h"
#include "work/SimpleWork.h"
#include "work/TransferWork.h"
#include "workflow/ChunkStepWork.h"

namespace vrexa {

// The folder, below the destination, where an update keeps the old version
// of each file it rewrites until every file of the new version is complete
// and verified: a subfolder per version being installed.
constexpr const char* kOldContentFolder = ".vrexa-old";

// Finds the chunks of the package in old content on this machine before any
// output file is opened (see ReuseIndex), and stores what it found in the
// transfer for the chunk works.
//
// The old files are the destination's regular files and those of the
// reuseFrom folders. A destination file the package rewrites is first
// looked at in place: when it already is the new version it stays; otherwise
// it is moved into the old-content folder, so that writing the new version
// never destroys bytes it still needs, and a crash at any moment leaves the
// old version whole there for the next attempt. A file already moved for this
// version (an earlier attempt) is not moved again: what lies at its path is
// the new version under way.
class IndexReuseWork : public TransferWork, public SimpleWork {
public:
    explicit IndexReuseWork(std::shared_ptr<TransferWorkInterface> transfer);

    // "name", "transferId", then what the scan found: "scannedBytes",
    // "reusableChunks", "reusableBytes", "indexBytes".
    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}

private:
    std::atomic<std::uint64_t> scannedBytes_{0};
    std::atomic<std::uint64_t> reusableChunks_{0};
    std::atomic<std::uint64_t> reusableBytes_{0};
    std::atomic<std::uint64_t> indexBytes_{0};
};

// Once every file of the new version is complete and verified: removes the
// old content kept aside. A failure to remove it loses nothing and does not
// fail the transfer.
class RemoveOldContentWork : public TransferWork, public SimpleWork {
public:
    explicit RemoveOldContentWork(std::shared_ptr<TransferWorkInterface> transfer);
    void Describe(boost::property_tree::ptree& tree) const override;
    WorkStatus ExecuteTask() override;
    void OnCancel() override {}
};

// Copies the chunk from where the index found it into the window and checks
// it as a downloaded chunk is checked: Success settles its progress and counts
// it as reused; Failure (nothing found, the old file gone or changed) leaves
// the chunk to be downloaded.
class ReuseChunkWork : public ChunkStepWork {
public:
    ReuseChunkWork(std::shared_ptr<TransferWorkInterface> transfer, std::shared_ptr<TransferSharedMapData> mapData)
        : ChunkStepWork(std::move(transfer), std::move(mapData), "ReuseChunkWork") {}

protected:
    WorkStatus Step() override;
};

// A chunk that is not right in place: copied from old content when the index
// has it, otherwise (or when the copy fails its check) downloaded.
class ReuseOrDownloadChunkWork : public TransferWork, public ConditionalWork {
public:
    ReuseOrDownloadChunkWork(std::shared_ptr<TransferWorkInterface> transfer,
                             std::shared_ptr<TransferSharedMapData> mapData, std::shared_ptr<Work> download);
    void Describe(boost::property_tree::ptree& tree) const override;

private:
    std::shared_ptr<TransferSharedMapData> mapData_;
};

}  // namespace vrexa
