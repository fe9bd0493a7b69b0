#include "workflow/VerifySingleFileWork.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/FileManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/FileWorks.h"
#include "workflow/LazyParallelVerifyMultipleChunksWork.h"
#include "workflow/LogRoutes.h"
#include "workflow/TransferSharedFileData.h"

namespace vrexa {

VerifySingleFileWork::VerifySingleFileWork(std::shared_ptr<TransferWorkInterface> transfer,
                                           std::shared_ptr<const FileManifest> fileManifest)
    : TransferWork(std::move(transfer)),
      SequentialWork(3),
      fileData_(std::make_shared<TransferSharedFileData>(fileManifest->GetPath(), fileManifest->GetSize())) {
    AddLogCompleteRoute(*this, this->transfer_->GetBehavior(), true);
    AddChild(std::make_shared<OpenExistingFileWork>(this->transfer_, fileData_));
    if (fileManifest->GetSize() != 0) {
        AddChild(std::make_shared<LazyParallelVerifyMultipleChunksWork>(this->transfer_, fileManifest, fileData_));
    }
    AddChild(std::make_shared<CloseFileWork>(this->transfer_, fileData_));
}

void VerifySingleFileWork::Describe(boost::property_tree::ptree& tree) const {
    tree.put("name", "VerifySingleFileWork");
    DescribeTransfer(tree, true);
    fileData_->Describe(tree);
}

}  // namespace vrexa
