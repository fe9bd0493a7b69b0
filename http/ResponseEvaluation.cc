#include "http/ResponseEvaluation.h"

#include <cctype>

#include "http/RequestParams.h"

namespace vrexa::http {
namespace {

constexpr std::size_t kQuotedLimit = 100;

std::string RangeText(std::uint64_t first, std::uint64_t last) {
    return std::to_string(first) + "-" + (last == RequestParams::kOpenEnd ? std::string() : std::to_string(last));
}

// A server's text goes into messages cut to a bounded length.
std::string Quoted(const std::string& text) {
    return "\"" + (text.size() > kQuotedLimit ? text.substr(0, kQuotedLimit) + "..." : text) + "\"";
}

// Digits at text[at...] as a number; nullopt when there are none or they overflow.
std::optional<std::uint64_t> Number(const std::string& text, std::size_t& at) {
    const std::size_t start = at;
    std::uint64_t value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
        ++at;
    }
    if (at == start) return std::nullopt;
    return value;
}

ResponseVerdict Refused(std::string message) {
    ResponseVerdict verdict;
    verdict.state = State::RangeError;
    verdict.message = std::move(message);
    verdict.maxBody = 0;
    return verdict;
}

}  // namespace

std::optional<ContentRange> ParseContentRange(const std::string& value) {
    static const std::string kUnit = "bytes";
    if (value.size() <= kUnit.size()) return std::nullopt;
    for (std::size_t i = 0; i < kUnit.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(value[i])) != kUnit[i]) return std::nullopt;
    }
    std::size_t at = kUnit.size();
    if (value[at] != ' ' && value[at] != '\t') return std::nullopt;
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t'))
        ++at;
    ContentRange range;
    const std::optional<std::uint64_t> first = Number(value, at);
    if (!first || at >= value.size() || value[at++] != '-') return std::nullopt;
    const std::optional<std::uint64_t> last = Number(value, at);
    if (!last || at >= value.size() || value[at++] != '/') return std::nullopt;
    range.first = *first;
    range.last = *last;
    if (at < value.size() && value[at] == '*' && at + 1 == value.size()) {
        ++at;
    } else {
        range.total = Number(value, at);
        if (!range.total) return std::nullopt;
    }
    if (at != value.size() || range.last < range.first) return std::nullopt;
    if (range.total && range.last >= *range.total) return std::nullopt;
    return range;
}

ResponseVerdict EvaluateResponseHeaders(std::uint64_t rangeFirst, std::uint64_t rangeLast,
                                        const ResponseHeaders& headers) {
    if (rangeFirst == 0 && rangeLast == RequestParams::kOpenEnd) {
        return {};
    }
    const std::string asked = "range " + RangeText(rangeFirst, rangeLast);
    const std::string code = " (HTTP " + std::to_string(headers.responseCode) + ")";

    if (headers.responseCode == 200) {
        // Bytes from the beginning would land at the wrong place of the range.
        if (rangeFirst != 0) return Refused(asked + " requested but the whole resource was sent" + code);
        ResponseVerdict verdict;
        if (headers.contentLength) {
            if (*headers.contentLength == 0) return Refused(asked + " answered with an empty body" + code);
            verdict.minBody = verdict.maxBody = *headers.contentLength;
        } else {
            verdict.minBody = 1;
        }
        return verdict;
    }
    if (headers.responseCode != 206) {
        return Refused(asked + " answered without its bytes" + code);
    }
    if (!headers.contentRange) {
        return Refused(asked + " answered without Content-Range" + code);
    }
    const std::optional<ContentRange> range = ParseContentRange(*headers.contentRange);
    if (!range) {
        return Refused(asked + " answered with Content-Range " + Quoted(*headers.contentRange) + code);
    }
    const std::string answered = asked + " answered with bytes " + RangeText(range->first, range->last) + "/" +
                                 (range->total ? std::to_string(*range->total) : std::string("*"));
    if (range->first != rangeFirst) {
        return Refused(answered + code);
    }
    if (range->last > rangeLast) {
        return Refused(answered + ", more than asked" + code);
    }
    // Fewer bytes than asked are whole only where the resource ends; an open range
    // always runs to that end.
    const bool endsWithTheResource = range->total && range->last + 1 == *range->total;
    if (range->last < rangeLast && !endsWithTheResource && (rangeLast != RequestParams::kOpenEnd || range->total)) {
        return Refused(answered + ", fewer than asked" + code);
    }
    const std::uint64_t length = range->last - range->first + 1;
    if (headers.contentLength && *headers.contentLength != length) {
        return Refused(answered + " but Content-Length " + std::to_string(*headers.contentLength) + code);
    }
    ResponseVerdict verdict;
    verdict.minBody = verdict.maxBody = length;
    return verdict;
}

}  // namespace vrexa::http
