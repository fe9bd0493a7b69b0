#pragma once

#include <memory>

#include "work/LazyParallelWork.h"
#include "work/TransferWork.h"

namespace vrexa {

class PackageManifest;

// Checks the package's files, every file in document order, up to
// parallelItems at a time and a new one each time one succeeds.
class LazyParallelVerifyMultipleFilesWork : public TransferWork, public LazyParallelWork {
public:
    // Throws std::logic_error when the package has no files (a lazy work that
    // makes nothing would never finish).
    explicit LazyParallelVerifyMultipleFilesWork(std::shared_ptr<TransferWorkInterface> transfer);

    // "name", "transferId".
    void Describe(boost::property_tree::ptree& tree) const override;
    std::shared_ptr<Work> CreateNextChild() override;

private:
    const std::shared_ptr<PackageManifest> package_;
};

}  // namespace vrexa
