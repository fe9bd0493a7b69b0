#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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

// The package's other files, parallelItems of them at a time, made as slots
// free up: the files with content in list order, then the empty ones. An
// empty file needs no request, so a package of many empty files starts
// fetching bytes at once instead of after creating every one of them; what
// ends on disk is the same. std::logic_error when there are none.
class LazyParallelTransferMultipleFilesWork : public TransferWork, public LazyParallelWork {
public:
    explicit LazyParallelTransferMultipleFilesWork(std::shared_ptr<TransferWorkInterface> transfer);
    void Describe(boost::property_tree::ptree& tree) const override;
    std::shared_ptr<Work> CreateNextChild() override;

private:
    std::shared_ptr<PackageManifest> package_;
    // The list positions in the order they are made; empty when that is the
    // list's own order (no empty file before one with content).
    std::vector<std::uint32_t> order_;
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
