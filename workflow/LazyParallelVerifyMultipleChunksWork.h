#pragma once

#include <cstdint>
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
                                         std::shared_ptr<FileManifest> fileManifest,
                                         std::shared_ptr<TransferSharedFileData> fileData);

    void Describe(boost::property_tree::ptree& tree) const override;
    std::shared_ptr<Work> CreateNextChild() override;
    // From the first chunk again.
    void Reset() override;

private:
    const std::shared_ptr<FileManifest> fileManifest_;
    const std::shared_ptr<TransferSharedFileData> fileData_;
    const std::uint32_t chunkCount_;
    std::uint32_t next_ = 0;
};

}  // namespace vrexa
