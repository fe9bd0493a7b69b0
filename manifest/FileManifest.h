#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/InputManifest.h"
#include "manifest/Sha256Digest.h"

namespace vrexa {

// One file of a package. Chunk i covers the bytes [i * chunk size,
// min((i + 1) * chunk size, size)) and its CRC-32 is GetChecksums()[i]; when
// the entry carries strong hashes, its SHA-256 is GetSha256s()[i] as well.
class FileManifest : public InputManifest {
public:
    // Files never have more chunks than this; anything larger is an overflow.
    static constexpr std::uint32_t kMaxChunkCount = 0x1FFFFFFF;

    // Chunks smaller than this make a request per few bytes: a file of a
    // megabyte would take hours to fetch. Only a file smaller than this may
    // use smaller chunks, and then it has at most this many.
    static constexpr std::uint32_t kMinChunkSize = 4096;

    // Whether a file of `size` bytes may be cut into chunks of `chunkSize`:
    // not 0, and at least kMinChunkSize unless the file is smaller than that.
    static bool IsChunkSizeAllowed(std::uint32_t chunkSize, std::uint64_t size) {
        return chunkSize != 0 && (chunkSize >= kMinChunkSize || size < kMinChunkSize);
    }

    virtual const std::string& GetPath() const = 0;
    virtual std::uint32_t GetChunkSize() const = 0;
    virtual std::uint64_t GetSize() const = 0;
    virtual const std::vector<std::uint32_t>& GetChecksums() const = 0;
    // Empty when the entry has no "sha256" element; otherwise exactly
    // GetChunkCount() digests, one per chunk in order.
    virtual const std::vector<Sha256Digest>& GetSha256s() const = 0;

    // ceil(size / chunk size); 0 when the chunk size is 0. Throws
    // ManifestOverflowException when the count exceeds kMaxChunkCount, which is
    // possible only for an object whose Read did not succeed.
    std::uint32_t GetChunkCount() const;
};

}  // namespace vrexa
