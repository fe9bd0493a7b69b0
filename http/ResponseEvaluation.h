#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "http/State.h"

namespace vrexa::http {

// What the headers of the final response said about its body.
struct ResponseHeaders {
    std::int32_t responseCode = 0;
    // The Content-Range value as sent; a repeated header is given joined by ", ".
    std::optional<std::string> contentRange;
    std::optional<std::uint64_t> contentLength;
};

// Whether an answer fits the byte range that was asked for, and how long its body
// must be for the exchange to count as complete.
struct ResponseVerdict {
    State state = State::Succeeded;  // Succeeded, or RangeError when the answer cannot be used
    std::string message;             // why not, for RangeError
    std::uint64_t minBody = 0;       // the body must bring at least ...
    std::uint64_t maxBody = std::numeric_limits<std::uint64_t>::max();  // ... and at most this many bytes
};

// Judges the headers of an answer to a request for [rangeFirst, rangeLast]
// (rangeLast RequestParams::kOpenEnd: to the end). A request without a range
// (0 to the open end) accepts every answer. For a range, only these fit:
//   206 whose Content-Range starts at rangeFirst and ends at rangeLast, or earlier
//       where the resource itself ends, with a Content-Length (if any) to match;
//   200 when the range starts at byte 0 (the whole resource starts where the
//       range does) and the body is not empty.
// Everything else is RangeError before any byte reaches a writer. A pure
// function of its arguments, for any input: nothing is thrown.
ResponseVerdict EvaluateResponseHeaders(std::uint64_t rangeFirst, std::uint64_t rangeLast,
                                        const ResponseHeaders& headers);

// The parts of a Content-Range value "bytes first-last/total" ("/*": total unknown).
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total;
};

// nullopt for anything but one well-formed, satisfied range.
std::optional<ContentRange> ParseContentRange(const std::string& value);

}  // namespace vrexa::http
