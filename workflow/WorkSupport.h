#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "manifest/Sha256Digest.h"
#include "transfer/TransferError.h"
#include "work/WorkStatus.h"

namespace vrexa {

class FileManifest;
class TransferWorkInterface;
class Work;

// FatalError with a TransferErrorData(error, message).
WorkStatus TransferErrorStatus(WorkResult result, TransferError error, std::string message);

// A failure caught in a file or chunk step: RetryableError when the file
// layer's classification says it may heal (in use, inaccessible, full disk),
// FatalError otherwise; the data is a TransferFileExceptionData.
WorkStatus FileFailureStatus(std::exception_ptr exception);

// Whether the package's file at path is one of its programs: its run file,
// whatever its name, or a file whose own name says it is executable. Only
// these lose execution while they are written and get it back at the end.
bool IsProgramFile(TransferWorkInterface& transfer, const std::string& path);

// Lower-case hexadecimal without prefix or leading zeros ("0" for zero).
std::string HexText(std::uint32_t value);

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

// The checksum of length zero bytes, computed once per length and kept.
std::uint32_t ZeroChecksum(std::uint64_t length);
// The SHA-256 of length zero bytes, computed once per length and kept.
Sha256Digest ZeroSha256(std::uint64_t length);

}  // namespace vrexa
