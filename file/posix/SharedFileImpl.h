#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "file/SharedFile.h"
#include "file/posix/UniqueDescriptor.h"

namespace vrexa::file::posix {

class MemoryMap;

// A shared output file on one file descriptor, written with positional I/O.
// Constructed only by FilesystemImpl::OpenSharedFile and Clone, which have
// already resolved the path.
class SharedFileImpl : public SharedFile, public std::enable_shared_from_this<SharedFileImpl> {
public:
    // Seeks to lower.
    SharedFileImpl(UniqueDescriptor descriptor, std::string path, std::shared_ptr<OperationContext> context,
                   std::shared_ptr<FileSizeMonitor> monitor, std::uint64_t lower, std::uint64_t upper);
    ~SharedFileImpl() override;

    // Opens path (already resolved, absolute) by mode; new files get mode 0644
    // before the umask. Folders are not created here.
    static UniqueDescriptor OpenDescriptor(const std::string& path, OpenMode mode);

    std::uint64_t GetPosition() override;
    void Seek(std::uint64_t position) override;
    std::size_t Read(void* buffer, std::size_t size) override;
    std::size_t Write(const void* buffer, std::size_t size) override;

    std::uint64_t GetSize() override;
    bool Preallocate(std::uint64_t size) override;
    bool AllowExecute() override;
    bool DenyExecute() override;
    using SharedFile::Map;
    std::shared_ptr<MemoryMappedData> Map(std::uint64_t lower, std::uint64_t upper) override;
    using SharedFile::Clone;
    std::shared_ptr<SharedFile> Clone(std::uint64_t lower, std::uint64_t upper) override;
    void Flush() override;

    const std::string& GetPath() const { return path_; }

private:
    UniqueDescriptor descriptor_;
    std::atomic<std::uint64_t> position_;
    std::shared_ptr<MemoryMap> map_;
    std::mutex mapMutex_;
    std::string path_;
};

}  // namespace vrexa::file::posix
