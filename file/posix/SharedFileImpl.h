#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "file/SharedFile.h"
#include "file/posix/UniqueDescriptor.h"

namespace vrexa::file::posix {

class MemoryMap;

// A shared output file on one file descriptor, written with positional I/O.
// Constructed only by FilesystemImpl::OpenSharedFile and Clone, which have
// already opened the descriptor.
class SharedFileImpl : public SharedFile, public std::enable_shared_from_this<SharedFileImpl> {
public:
    // descriptor is the file at components below folder, the folder base
    // (absolute) as it was opened; clones open the file again below that same
    // folder, the same way, even should base name another folder by then.
    // Seeks to lower.
    SharedFileImpl(UniqueDescriptor descriptor, std::shared_ptr<const UniqueDescriptor> folder, std::string base,
                   std::vector<std::string> components, std::shared_ptr<OperationContext> context,
                   std::shared_ptr<FileSizeMonitor> monitor, std::uint64_t lower, std::uint64_t upper);
    ~SharedFileImpl() override;

    // Opens the file at components below folder by mode, never through a
    // link (see OpenBeneath); the creating modes make missing folders on the
    // way, and new files get mode 0644 before the umask. A folder, pipe or
    // socket there is BadPathException.
    static UniqueDescriptor OpenDescriptor(int folder, const std::vector<std::string>& components, OpenMode mode);

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
    std::shared_ptr<const UniqueDescriptor> folder_;
    std::string base_;
    std::vector<std::string> components_;
    std::string path_;
};

}  // namespace vrexa::file::posix
