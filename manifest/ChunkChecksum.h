#pragma once

#include <cstddef>
#include <cstdint>

namespace vrexa {

// The standard CRC-32 (polynomial 0x04C11DB7, reflected, initial value and
// final exclusive-or 0xFFFFFFFF) of a chunk's bytes. Pass the checksum of what
// came before as `previous` to continue it:
// ChunkChecksum(b, nb, ChunkChecksum(a, na)) is the checksum of a followed by b.
std::uint32_t ChunkChecksum(const void* data, std::size_t size, std::uint32_t previous = 0);

}  // namespace vrexa
