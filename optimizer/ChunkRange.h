#pragma once

#include <cstdint>
#include <string>

namespace vrexa {

// The bytes of one chunk of a file, inclusive at both ends. The chunk works
// share a richer record of the chunk (its file, window and progress) that is
// one of these; the optimizer needs only the range to size a request's
// timeouts.
struct ChunkRange {
    virtual ~ChunkRange() = default;
    // The path of the chunk's file as the file manifest gives it; the chunk's
    // URL ends with it.
    virtual std::string GetFilePath() const { return std::string(); }

    std::uint64_t lowerBound = 0;
    std::uint64_t upperBound = 0;
};

}  // namespace vrexa
