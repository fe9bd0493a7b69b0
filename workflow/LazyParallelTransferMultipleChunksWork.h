#pragma once

#include <memory>

#include "work/LazyParallelWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class FileManifest;
class TransferSharedFileData;

// The chunks of one file, parallelItems of them in flight, made in chunk
// order as slots free up.
class LazyParallelTransferMultipleChunksWork : public TransferWork, public LazyParallelWork {
public:
    LazyParallelTransferMultipleChunksWork(std::shared_ptr<TransferWorkInterface> transfer,
                                           std::shared_ptr<TransferSharedFileData> fileData,
                                           std::shared_ptr<const FileManifest> fileManifest);

    // "name", "transferId", then the file's keys.
    void Describe(boost::property_tree::ptree& tree) const override;
    std::shared_ptr<Work> CreateNextChild() override;

    // Drops the window of every chunk still in flight, without writing it
    // back: the file work is going away.
    void DropWindows();

private:
    std::shared_ptr<TransferSharedFileData> fileData_;
    std::shared_ptr<const FileManifest> fileManifest_;
};

}  // namespace vrexa
