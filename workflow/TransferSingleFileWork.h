#pragma once

#include <memory>

#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class FileManifest;
class LazyParallelTransferMultipleChunksWork;
class TransferSharedFileData;

// One output file: open and size it, fill and check it chunk by chunk (only
// when it has bytes), close it. When the work goes away it lets go of the
// chunks' windows and the file and only then hands the file to the transfer,
// exactly once whatever happened, so that a removal is never blocked by the
// work's own handle or mappings.
class TransferSingleFileWork : public TransferWork, public SequentialWork {
public:
    TransferSingleFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                           std::shared_ptr<const FileManifest> fileManifest);
    ~TransferSingleFileWork() override;

    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<TransferSharedFileData>& GetFileData() const { return fileData_; }

private:
    std::shared_ptr<TransferSharedFileData> fileData_;
    std::shared_ptr<LazyParallelTransferMultipleChunksWork> chunks_;
};

}  // namespace vrexa
