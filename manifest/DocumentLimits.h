#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace vrexa {

// How large and how deeply nested a document of one kind may be. Every
// document the engine reads comes from a server or from a file others can
// write; a body is never taken into memory without a bound, and nesting is
// checked before a recursive parser sees the text.
struct DocumentLimits {
    std::uint64_t maxBytes;
    int maxDepth;
};

// Real documents nest four levels at most; this leaves room for additions
// while staying far from what could exhaust a parser's stack.
inline constexpr int kMaxDocumentDepth = 64;

// A package manifest of 100 000 files is about 15 MB.
inline constexpr DocumentLimits kPackageManifestLimits{64ull << 20, kMaxDocumentDepth};
// A node list names a few hundred servers.
inline constexpr DocumentLimits kNodeListLimits{1ull << 20, kMaxDocumentDepth};
inline constexpr DocumentLimits kGeolocationLimits{64ull << 10, kMaxDocumentDepth};
// Identifiers and a destination folder.
inline constexpr DocumentLimits kStoredTransferLimits{64ull << 10, kMaxDocumentDepth};

// The whole stream as text; ManifestParseException when it holds more than
// maxBytes (only maxBytes + 1 are ever read) or cannot be read.
std::string ReadBoundedDocument(std::istream& stream, std::uint64_t maxBytes);

}  // namespace vrexa
