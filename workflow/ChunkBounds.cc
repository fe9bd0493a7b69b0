#include "workflow/ChunkBounds.h"

#include <algorithm>

#include "manifest/FileManifest.h"

namespace vrexa {

std::optional<ChunkBounds> ChunkAt(const FileManifest& manifest, std::uint64_t fileSize, std::uint64_t index) {
    const std::uint64_t chunkSize = manifest.GetChunkSize();
    const auto& checksums = manifest.GetChecksums();
    if (chunkSize == 0 || fileSize == 0 || index >= checksums.size() || index > (fileSize - 1) / chunkSize) {
        return std::nullopt;
    }
    const std::uint64_t lower = index * chunkSize;
    ChunkBounds bounds{lower, lower + std::min(chunkSize - 1, fileSize - 1 - lower), checksums[index], std::nullopt};
    if (const auto& sha256s = manifest.GetSha256s(); index < sha256s.size()) {
        bounds.sha256 = sha256s[index];
    }
    return bounds;
}

}  // namespace vrexa
