#include "workflow/TransferMultipleFilesWork.h"

#include <algorithm>
#include <stdexcept>

#include <boost/property_tree/ptree.hpp>

#include "manifest/FileManifest.h"
#include "transfer/TransferWorkInterface.h"
#include "workflow/FileWorks.h"
#include "workflow/LogRoutes.h"
#include "workflow/ReuseWorks.h"
#include "workflow/TransferSingleFileWork.h"

namespace vrexa {
namespace {

void DescribeBrief(boost::property_tree::ptree& tree, const char* name, const TransferWork& work) {
    tree.put("name", name);
    work.DescribeTransfer(tree, true);
}

unsigned Capacity(TransferWorkInterface& transfer) {
    return static_cast<unsigned>(std::max(1, transfer.GetBehavior().parallelItems));
}

std::shared_ptr<PackageManifest> PackageOf(TransferWorkInterface& transfer, const char* who) {
    std::shared_ptr<PackageManifest> package = transfer.GetPackage();
    if (!package) {
        throw std::logic_error(std::string(who) + " constructed without a package manifest");
    }
    return package;
}

}  // namespace

SequentialTransferMultipleFilesWork::SequentialTransferMultipleFilesWork(
    std::shared_ptr<TransferWorkInterface> transfer, const PackageManifest::Files& files)
    : TransferWork(transfer), SequentialWork(files.size()) {
    if (files.empty()) {
        throw std::logic_error("SequentialTransferMultipleFilesWork constructed with empty cluster");
    }
    AddLogCompleteRoute(*this, transfer->GetBehavior(), true);
    for (const auto& file : files) {
        AddChild(std::make_shared<TransferSingleFileWork>(transfer, file));
    }
}

void SequentialTransferMultipleFilesWork::Describe(boost::property_tree::ptree& tree) const {
    DescribeBrief(tree, "SequentialTransferMultipleFilesWork", *this);
}

LazyParallelTransferMultipleFilesWork::LazyParallelTransferMultipleFilesWork(
    std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(transfer),
      LazyParallelWork(Capacity(*transfer)),
      package_(PackageOf(*transfer, "LazyParallelTransferMultipleFilesWork")) {
    if (package_->GetOtherFiles().empty()) {
        throw std::logic_error("LazyParallelTransferMultipleFilesWork constructed with empty cluster");
    }
    const auto& files = package_->GetOtherFiles();
    const auto empty = [](const std::shared_ptr<FileManifest>& file) { return file->GetSize() == 0; };
    const auto firstEmpty = std::find_if(files.begin(), files.end(), empty);
    if (std::find_if_not(firstEmpty, files.end(), empty) != files.end()) {
        order_.reserve(files.size());
        for (std::uint32_t i = 0; i < files.size(); ++i) {
            if (!empty(files[i])) order_.push_back(i);
        }
        for (std::uint32_t i = 0; i < files.size(); ++i) {
            if (empty(files[i])) order_.push_back(i);
        }
    }
    AddLogCompleteRoute(*this, transfer->GetBehavior(), true);
}

void LazyParallelTransferMultipleFilesWork::Describe(boost::property_tree::ptree& tree) const {
    DescribeBrief(tree, "LazyParallelTransferMultipleFilesWork", *this);
}

std::shared_ptr<Work> LazyParallelTransferMultipleFilesWork::CreateNextChild() {
    const auto& files = package_->GetOtherFiles();
    if (nextIndex_ >= files.size()) {
        return nullptr;
    }
    return std::make_shared<TransferSingleFileWork>(transfer_, files[order_.empty() ? nextIndex_ : order_[nextIndex_]]);
}

TransferMultipleFilesWork::TransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> transfer)
    : TransferWork(transfer), SequentialWork(5) {
    const auto package = PackageOf(*transfer, "TransferMultipleFilesWork");
    if (package->GetRunFiles().empty() && package->GetOtherFiles().empty()) {
        throw std::logic_error("TransferMultipleFilesWork constructed with empty file set");
    }
    AddLogCompleteRoute(*this, transfer->GetBehavior(), false);
    AddChild(std::make_shared<CheckPreallocateWork>(transfer));
    const bool reuse = transfer->GetBehavior().reuseOldContent;
    if (reuse) {
        AddChild(std::make_shared<IndexReuseWork>(transfer));
    }
    if (!package->GetRunFiles().empty()) {
        AddChild(std::make_shared<SequentialTransferMultipleFilesWork>(transfer, package->GetRunFiles()));
    }
    if (!package->GetOtherFiles().empty()) {
        AddChild(std::make_shared<LazyParallelTransferMultipleFilesWork>(transfer));
    }
    if (reuse) {
        AddChild(std::make_shared<RemoveOldContentWork>(transfer));
    }
}

void TransferMultipleFilesWork::Describe(boost::property_tree::ptree& tree) const {
    DescribeBrief(tree, "TransferMultipleFilesWork", *this);
}

}  // namespace vrexa
