#include "manifest/ChunkChecksum.h"

#include <isa-l/crc.h>

namespace vrexa {

std::uint32_t ChunkChecksum(const void* data, std::size_t size, std::uint32_t previous) {
    // The gzip variant inverts on entry and exit, so passing a finished
    // checksum back in continues it.
    return crc32_gzip_refl(previous, static_cast<const unsigned char*>(data), size);
}

}  // namespace vrexa
