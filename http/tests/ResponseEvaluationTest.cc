#include "http/ResponseEvaluation.h"

#include <gtest/gtest.h>

#include "http/RequestParams.h"

namespace vrexa::http {
namespace {

constexpr std::uint64_t kOpen = RequestParams::kOpenEnd;
constexpr std::uint64_t kAny = std::numeric_limits<std::uint64_t>::max();

TEST(ResponseEvaluationTest, JudgesAnswersToARange) {
    struct Case {
        const char* name;
        std::uint64_t first;
        std::uint64_t last;
        ResponseHeaders headers;
        State state;
        std::uint64_t minBody;
        std::uint64_t maxBody;
    };
    const Case cases[] = {
        // No range asked: every answer is the resource.
        {"no range, 200", 0, kOpen, {200, std::nullopt, 10}, State::Succeeded, 0, kAny},
        {"no range, 206 elsewhere", 0, kOpen, {206, "bytes 5-9/10", 5}, State::Succeeded, 0, kAny},
        {"no range, empty 200", 0, kOpen, {200, std::nullopt, 0}, State::Succeeded, 0, kAny},
        // The answers that fit.
        {"exact", 500, 599, {206, "bytes 500-599/1000", 100}, State::Succeeded, 100, 100},
        {"exact, no length", 500, 599, {206, "bytes 500-599/1000", std::nullopt}, State::Succeeded, 100, 100},
        {"exact, total unknown", 500, 599, {206, "bytes 500-599/*", 100}, State::Succeeded, 100, 100},
        {"ends with the resource", 990, 5000, {206, "bytes 990-999/1000", 10}, State::Succeeded, 10, 10},
        {"open range", 100, kOpen, {206, "bytes 100-999/1000", 900}, State::Succeeded, 900, 900},
        {"open range, total unknown", 100, kOpen, {206, "bytes 100-999/*", 900}, State::Succeeded, 900, 900},
        {"unit in capitals, spaces", 5, 9, {206, "BYTES  5-9/10", 5}, State::Succeeded, 5, 5},
        {"whole resource from 0", 0, 999, {200, std::nullopt, 1000}, State::Succeeded, 1000, 1000},
        {"whole resource from 0, no length", 0, 99, {200, std::nullopt, std::nullopt}, State::Succeeded, 1, kAny},
        // Wrong answers.
        {"starts elsewhere", 500, 599, {206, "bytes 400-499/1000", 100}, State::RangeError, 0, 0},
        {"starts later", 500, 599, {206, "bytes 501-599/1000", 99}, State::RangeError, 0, 0},
        {"no Content-Range", 500, 599, {206, std::nullopt, 100}, State::RangeError, 0, 0},
        {"short", 500, 599, {206, "bytes 500-549/1000", 50}, State::RangeError, 0, 0},
        {"short, total unknown", 500, 599, {206, "bytes 500-549/*", 50}, State::RangeError, 0, 0},
        {"open range, short", 100, kOpen, {206, "bytes 100-199/1000", 100}, State::RangeError, 0, 0},
        {"longer than asked", 500, 599, {206, "bytes 500-699/1000", 200}, State::RangeError, 0, 0},
        {"length disagrees", 500, 599, {206, "bytes 500-599/1000", 99}, State::RangeError, 0, 0},
        {"whole resource from elsewhere", 500, 599, {200, std::nullopt, 1000}, State::RangeError, 0, 0},
        {"empty 200", 0, 99, {200, std::nullopt, 0}, State::RangeError, 0, 0},
        {"no content", 0, 99, {204, std::nullopt, 0}, State::RangeError, 0, 0},
        {"no response", 0, 99, {0, std::nullopt, std::nullopt}, State::RangeError, 0, 0},
        {"repeated Content-Range", 5, 9, {206, "bytes 5-9/10, bytes 5-9/10", 5}, State::RangeError, 0, 0},
        // Content-Range values that do not parse as one satisfied range.
        {"unsatisfied form", 5, 9, {206, "bytes */10", 0}, State::RangeError, 0, 0},
        {"other unit", 5, 9, {206, "items 5-9/10", 5}, State::RangeError, 0, 0},
        {"no space", 5, 9, {206, "bytes5-9/10", 5}, State::RangeError, 0, 0},
        {"last before first", 5, 9, {206, "bytes 9-5/10", 5}, State::RangeError, 0, 0},
        {"last past total", 5, 9, {206, "bytes 5-9/9", 5}, State::RangeError, 0, 0},
        {"no total", 5, 9, {206, "bytes 5-9", 5}, State::RangeError, 0, 0},
        {"trailing text", 5, 9, {206, "bytes 5-9/10x", 5}, State::RangeError, 0, 0},
        {"negative", 5, 9, {206, "bytes -5-9/10", 5}, State::RangeError, 0, 0},
        {"overflow", 5, 9, {206, "bytes 5-99999999999999999999/*", 5}, State::RangeError, 0, 0},
        {"empty", 5, 9, {206, "", 5}, State::RangeError, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ResponseVerdict verdict = EvaluateResponseHeaders(c.first, c.last, c.headers);
        EXPECT_EQ(verdict.state, c.state) << verdict.message;
        EXPECT_EQ(verdict.message.empty(), c.state == State::Succeeded) << verdict.message;
        EXPECT_EQ(verdict.minBody, c.minBody);
        EXPECT_EQ(verdict.maxBody, c.maxBody);
    }
}

TEST(ResponseEvaluationTest, MessagesNameTheRangeAndWhatCame) {
    EXPECT_EQ(EvaluateResponseHeaders(500, 599, {206, "bytes 400-499/1000", 100}).message,
              "range 500-599 answered with bytes 400-499/1000 (HTTP 206)");
    EXPECT_EQ(EvaluateResponseHeaders(500, kOpen, {200, std::nullopt, 1000}).message,
              "range 500- requested but the whole resource was sent (HTTP 200)");
    // A server's text is cut before it reaches a message.
    const std::string message = EvaluateResponseHeaders(5, 9, {206, std::string(100000, 'x'), 5}).message;
    EXPECT_LT(message.size(), 200u);
}

TEST(ResponseEvaluationTest, ParsesContentRange) {
    const std::optional<ContentRange> known = ParseContentRange("bytes 0-18446744073709551614/18446744073709551615");
    ASSERT_TRUE(known);
    EXPECT_EQ(known->first, 0u);
    EXPECT_EQ(known->last, 18446744073709551614u);
    EXPECT_EQ(known->total, 18446744073709551615u);
    const std::optional<ContentRange> unknown = ParseContentRange("bytes\t7-7/*");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->first, 7u);
    EXPECT_EQ(unknown->total, std::nullopt);
    EXPECT_FALSE(ParseContentRange("bytes 0-18446744073709551616/*"));
}

}  // namespace
}  // namespace vrexa::http
