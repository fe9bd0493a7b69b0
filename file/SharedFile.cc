#include "file/SharedFile.h"

#include <utility>

#include "file/SequentialWriteCache.h"

namespace vrexa::file {

SharedFile::SharedFile(std::shared_ptr<OperationContext> context, std::shared_ptr<FileSizeMonitor> monitor,
                       std::uint64_t lower, std::uint64_t upper)
    : BoundedData(lower, upper),
      context_(std::move(context)),
      monitor_(monitor ? std::move(monitor) : std::make_shared<FileSizeMonitor>()) {}

SharedFile::~SharedFile() = default;

std::shared_ptr<MemoryMappedData> SharedFile::Map() { return Map(GetLower(), GetUpper()); }

std::shared_ptr<SharedFile> SharedFile::Clone() { return Clone(GetLower(), GetUpper()); }

std::shared_ptr<SequentialWriteCache> SharedFile::CreateWriteCache(std::uint64_t lower, std::uint64_t upper,
                                                                   std::uint32_t waitSeconds) {
    CheckRange(lower, upper);
    CheckSize(lower, upper);
    monitor_->Extend(GetSize());
    return std::make_shared<SequentialWriteCache>(Clone(lower, upper), context_, monitor_, lower, upper, waitSeconds);
}

}  // namespace vrexa::file
