#pragma once

#include <cstdint>

#include "manifest/Sha256Digest.h"

namespace vrexa {

// The digests of a run of zero bytes, which a chunk not yet written holds:
// each computed once per length and kept.

// The checksum of length zero bytes.
std::uint32_t ZeroChecksum(std::uint64_t length);
// The SHA-256 of length zero bytes.
Sha256Digest ZeroSha256(std::uint64_t length);

}  // namespace vrexa
