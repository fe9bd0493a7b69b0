// The judgement of an answer to a byte-range request: whatever the headers
// say, an accepted answer delivers exactly the asked range (or the
// resource's end inside it), and the body bounds are consistent.
#include <cstring>

#include "fuzz/FuzzInput.h"
#include "http/RequestParams.h"
#include "http/ResponseEvaluation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vrexa::http;
    if (size < 20) return 0;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint32_t code = 0;
    std::memcpy(&first, data, 8);
    std::memcpy(&last, data + 8, 8);
    std::memcpy(&code, data + 16, 4);
    data += 20;
    size -= 20;
    std::vector<std::string> parts = vrexa::fuzz::SplitArguments(data, size);
    parts.resize(3);

    // Small numbers most of the time, so that ranges and headers can agree.
    if (!(first >> 63)) first %= 4096;
    if (!(last >> 63)) last %= 8192;

    ResponseHeaders headers;
    headers.responseCode = static_cast<std::int32_t>(code % 1000);
    if (!parts[0].empty()) headers.contentRange = parts[0].substr(1);
    if (!parts[1].empty()) {
        std::uint64_t length = 0;
        for (char c : parts[1])
            length = length * 31 + static_cast<unsigned char>(c);
        headers.contentLength = length % 16384;
    }

    const ResponseVerdict verdict = EvaluateResponseHeaders(first, last, headers);
    VREXA_FUZZ_CHECK(verdict.state == State::Succeeded || verdict.state == State::RangeError);
    if (verdict.state != State::Succeeded) return 0;
    VREXA_FUZZ_CHECK(verdict.minBody <= verdict.maxBody);

    const bool ranged = !(first == 0 && last == RequestParams::kOpenEnd);
    if (ranged && first <= last && last != RequestParams::kOpenEnd) {
        if (headers.responseCode == 206) {
            // A partial answer brings the range and nothing more; a whole
            // answer (200) is cut by the writer at the range's end.
            VREXA_FUZZ_CHECK(verdict.maxBody <= last - first + 1);
            VREXA_FUZZ_CHECK(verdict.maxBody > 0);
            VREXA_FUZZ_CHECK(headers.contentRange.has_value());
            const auto range = ParseContentRange(*headers.contentRange);
            VREXA_FUZZ_CHECK(range.has_value() && range->first == first && range->last <= last);
        } else {
            VREXA_FUZZ_CHECK(headers.responseCode == 200 && first == 0);
        }
    }
    if (headers.contentRange) ParseContentRange(*headers.contentRange);
    return 0;
}
