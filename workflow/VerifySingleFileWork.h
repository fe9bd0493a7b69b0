#pragma once

#include <memory>

#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class FileManifest;
class TransferSharedFileData;

// Checks one file on disk: open it as it is (read-only) and compare its size,
// check its chunks (a file of size 0 has none), release it.
class VerifySingleFileWork : public TransferWork, public SequentialWork {
public:
    VerifySingleFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                         std::shared_ptr<const FileManifest> fileManifest);

    // "name", "transferId", then "filePath" and "fileSize".
    void Describe(boost::property_tree::ptree& tree) const override;

    const std::shared_ptr<TransferSharedFileData>& GetFileData() const { return fileData_; }

private:
    const std::shared_ptr<TransferSharedFileData> fileData_;
};

}  // namespace vrexa
