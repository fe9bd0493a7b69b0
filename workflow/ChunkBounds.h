#pragma once

#include <cstdint>
#include <optional>

#include "manifest/Sha256Digest.h"

namespace vrexa {

class FileManifest;

// Chunk index of a file: its inclusive byte range, its expected CRC-32 and,
// when the manifest carries one, its expected SHA-256.
struct ChunkBounds {
    std::uint64_t lower = 0;
    std::uint64_t upper = 0;
    std::uint32_t checksum = 0;
    std::optional<Sha256Digest> sha256;
};

// The chunk at index of a file of fileSize bytes described by manifest, or
// nothing past the last chunk (or for a manifest without chunk size).
std::optional<ChunkBounds> ChunkAt(const FileManifest& manifest, std::uint64_t fileSize, std::uint64_t index);

}  // namespace vrexa
