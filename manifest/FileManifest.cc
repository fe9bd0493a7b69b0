#include "manifest/FileManifest.h"

#include <limits>

#include "manifest/ManifestException.h"

namespace vrexa {

std::uint32_t FileManifest::GetChunkCount() const {
    const std::uint64_t chunkSize = GetChunkSize();
    const std::uint64_t size = GetSize();
    if (chunkSize == 0) return 0;
    if (size > std::numeric_limits<std::uint64_t>::max() - (chunkSize - 1)) {
        throw ManifestOverflowException();
    }
    const std::uint64_t count = (size + chunkSize - 1) / chunkSize;
    if (count > kMaxChunkCount) throw ManifestOverflowException();
    return static_cast<std::uint32_t>(count);
}

}  // namespace vrexa
