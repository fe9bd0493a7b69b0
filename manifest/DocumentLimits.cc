#include "manifest/DocumentLimits.h"

#include <algorithm>

#include "manifest/ManifestException.h"

namespace vrexa {

std::string ReadBoundedDocument(std::istream& stream, std::uint64_t maxBytes) {
    std::string text;
    char block[64 * 1024];
    while (text.size() <= maxBytes) {
        const auto wanted = std::min<std::uint64_t>(sizeof block, maxBytes + 1 - text.size());
        stream.read(block, static_cast<std::streamsize>(wanted));
        const auto got = stream.gcount();
        text.append(block, static_cast<std::size_t>(got));
        if (got == 0 || stream.eof()) {
            break;
        }
        if (stream.fail()) {
            throw ManifestParseException();
        }
    }
    if (stream.bad() || text.size() > maxBytes) {
        throw ManifestParseException();
    }
    return text;
}

}  // namespace vrexa
