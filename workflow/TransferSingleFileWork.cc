#include "workflow/TransferSingleFileWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/FileManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/FileWorks.h"
#include "workflow/LazyParallelTransferMultipleChunksWork.h"
#include "workflow/LogRoutes.h"
#include "workflow/TransferSharedFileData.h"

namespace vrexa {

TransferSingleFileWork::TransferSingleFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                                               std::shared_ptr<const FileManifest> fileManifest)
    : TransferWork(transfer),
      SequentialWork(3),
      fileData_(std::make_shared<TransferSharedFileData>(fileManifest->GetPath(), fileManifest->GetSize())) {
    AddLogCompleteRoute(*this, transfer->GetBehavior(), true);
    AddChild(std::make_shared<OpenAndAllocateFileWork>(transfer, fileData_));
    if (fileData_->fileSize != 0) {
        chunks_ = std::make_shared<LazyParallelTransferMultipleChunksWork>(transfer, fileData_, fileManifest);
        AddChild(chunks_);
    }
    AddChild(std::make_shared<CloseFileWork>(transfer, fileData_));
}

TransferSingleFileWork::~TransferSingleFileWork() {
    try {
        if (chunks_) {
            chunks_->DropWindows();
        }
    } catch (...) {
    }
    try {
        fileData_->ResetFile();
    } catch (...) {
    }
    try {
        transfer_->AddOutputFile(fileData_->filePath);
    } catch (...) {
    }
}

void TransferSingleFileWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "TransferSingleFileWork");
    DescribeTransfer(tree, true);
    fileData_->Describe(tree);
}

}  // namespace vrexa
