// Chunk URLs from a node's host and path and a manifest's identifiers and
// file path: a built URL always begins with the node's own prefix, carries no
// query or fragment, never climbs a folder, and its segments decode back to
// exactly the identifiers and file path it was built from.
#include <stdexcept>

#include "fuzz/FuzzInput.h"
#include "optimizer/ChunkUrl.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits at "/" and decodes each segment; a malformed escape fails the check.
std::vector<std::string> DecodedSegments(std::string_view path) {
    std::vector<std::string> segments(1);
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '/') {
            segments.emplace_back();
        } else if (c == '%') {
            VREXA_FUZZ_CHECK(i + 2 < path.size());
            const int high = HexValue(path[i + 1]);
            const int low = HexValue(path[i + 2]);
            VREXA_FUZZ_CHECK(high >= 0 && low >= 0);
            segments.back().push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            VREXA_FUZZ_CHECK(c > 0x20 && c != 0x7F && c != '?' && c != '#' && c != '\\' && c != '"');
            segments.back().push_back(c);
        }
    }
    return segments;
}

std::vector<std::string> NonEmptySegments(std::string_view path) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) segments.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts = vrexa::fuzz::SplitArguments(data, size);
    parts.resize(6);
    const std::string& host = parts[0];
    const std::string& nodePath = parts[1];
    std::string url;
    try {
        url = vrexa::BuildChunkUrl(host, nodePath, parts[2], parts[3], parts[4], parts[5]);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    // A host given as "https://HOST[:PORT]" is reached over TLS; any other
    // host is the authority of a plain URL as it stands.
    constexpr std::string_view kSecure = "https://";
    const bool secure = host.compare(0, kSecure.size(), kSecure) == 0;
    const std::string authority = secure ? host.substr(kSecure.size()) : host;
    const std::string prefix = (secure ? "https://" : "http://") + authority + "/";
    VREXA_FUZZ_CHECK(url.compare(0, prefix.size(), prefix) == 0);
    for (const char c : authority)
        VREXA_FUZZ_CHECK(c != '/' && c != '?' && c != '#' && c != '@' && c != '\\');

    const std::vector<std::string> segments = DecodedSegments(std::string_view(url).substr(prefix.size()));
    for (const std::string& segment : segments)
        VREXA_FUZZ_CHECK(segment != "." && segment != "..");

    // The node's own folder, then partner, package, version, then the file.
    std::vector<std::string> expected = NonEmptySegments(nodePath);
    expected.push_back(parts[2]);
    expected.push_back(parts[3]);
    expected.push_back(parts[4]);
    std::string_view file = parts[5];
    file.remove_prefix(std::min(file.find_first_not_of('/'), file.size()));
    std::size_t start = 0;
    while (start <= file.size()) {
        const std::size_t end = std::min(file.find('/', start), file.size());
        expected.emplace_back(file.substr(start, end - start));
        start = end + 1;
    }
    VREXA_FUZZ_CHECK(segments == expected);
    return 0;
}
