#pragma once

#include <cstddef>
#include <memory>

#include "manifest/PackageManifest.h"
#include "work/LazyParallelWork.h"
#include "work/SequentialWork.h"
#include "work/TransferWork.h"

namespace vrexa {

// A cluster of files downloaded one after the other (the package's run
// files). std::logic_error when files is empty.
class SequentialTransferMultipleFilesWork : public TransferWork, public SequentialWork {
public:
    SequentialTransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> transfer,
                                        const PackageManifest::Files& files);
    void Describe(boost::property_tree::ptree& tree) const override;
};

// The package's other files, parallelItems of them at a time, made in list
// order as slots free up. std::logic_error when there are none.
class LazyParallelTransferMultipleFilesWork : public TransferWork, public LazyParallelWork {
public:
    explicit LazyParallelTransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> transfer);
    void Describe(boost::property_tree::ptree& tree) const override;
    std::shared_ptr<Work> CreateNextChild() override;

private:
    std::shared_ptr<PackageManifest> package_;
};

// The download of a package's files: the preallocation decision, then the
// run files on their own, then the other files in parallel.
// std::logic_error when the package has no files.
class TransferMultipleFilesWork : public TransferWork, public SequentialWork {
public:
    explicit TransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> transfer);
    void Describe(boost::property_tree::ptree& tree) const override;
};

}  // namespace vrexa
