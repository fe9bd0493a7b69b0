#pragma once

#include <memory>

#include "work/LazyParallelWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class FileManifest;
class TransferSharedFileData;

// Checks the chunks of one open file, in chunk order, up to parallelItems at
// a time; the first chunk that differs ends it.
class LazyParallelVerifyMultipleChunksWork : public TransferWork, public LazyParallelWork {
public:
    LazyParallelVerifyMultipleChunksWork(std::shared_ptr<TransferWorkInterface> transfer,
                                         std::shared_ptr<const FileManifest> fileManifest,
                                         std::shared_ptr<TransferSharedFileData> fileData);

    // "name", "transferId", then the file's keys.
    void Describe(boost::property_tree::ptree& tree) const override;
    std::shared_ptr<Work> CreateNextChild() override;

private:
    const std::shared_ptr<const FileManifest> fileManifest_;
    const std::shared_ptr<TransferSharedFileData> fileData_;
};

}  // namespace vrexa
