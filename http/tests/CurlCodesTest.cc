#include <gtest/gtest.h>

#include "http/CurlRequest.h"

namespace vrexa::http {
namespace {

TEST(StateForCurlCodeTest, MapsEveryFamilyOfCodes) {
    struct Case {
        int code;
        std::int32_t responseCode;
        State state;
    };
    const Case cases[] = {
        {1, 0, State::InvalidRequest},
        {3, 0, State::InvalidRequest},
        {4, 0, State::InvalidRequest},
        {5, 0, State::ResolveError},
        {6, 0, State::ResolveError},
        {7, 0, State::ConnectError},
        {22, 404, State::ClientError},
        {22, 499, State::ClientError},
        {22, 500, State::ServerError},
        {22, 503, State::ServerError},
        {9, 0, State::ClientError},
        {78, 550, State::ServerError},
        // No response at all counts as below 500; a negative code compares unsigned.
        {22, 0, State::ClientError},
        {22, -1, State::ServerError},
        {18, 200, State::RangeError},
        {33, 0, State::RangeError},
        {23, 200, State::WriteError},
        {27, 0, State::OutOfMemory},
        {27, 200, State::TransmitError},
        {28, 0, State::Timeout},
        {55, 0, State::TransmitError},
        {56, 200, State::TransmitError},
        {35, 0, State::SecurityError},
        {51, 0, State::SecurityError},
        {53, 0, State::SecurityError},
        {54, 0, State::SecurityError},
        {58, 0, State::SecurityError},
        {59, 0, State::SecurityError},
        {60, 0, State::SecurityError},
        {66, 0, State::SecurityError},
        {77, 0, State::SecurityError},
        {82, 0, State::SecurityError},
        {83, 0, State::SecurityError},
        {47, 302, State::OtherError},
        {52, 0, State::OtherError},
        {2, 0, State::OtherError},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StateForCurlCode(c.code, c.responseCode), c.state) << "code " << c.code << " HTTP " << c.responseCode;
    }
}

TEST(CappedMillisecondsTest, ConvertsAndCapsByTheTimeouts) {
    struct Case {
        bool ok;
        double seconds;
        std::int32_t connectTimeout;
        std::int32_t timeout;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {true, 1.2345, 5, 0, 1234},  // truncated to whole milliseconds
        {true, 7.0, 5, 0, 5000},     // defaults: capped at the connect timeout
        {true, 7.0, 5, 3, 7000},     // both set: their sum, 8 s
        {true, 9.0, 5, 3, 8000},
        {true, 9.0, 0, 4, 4000},  // the larger alone when the smaller is not positive
        {true, 9.0, -2, 4, 4000},
        {true, 1e6, -1, -5, 604800000},                 // both negative: one week
        {true, 5e6, 4000000, 1000000, 0xFFFFFFFFu},     // a ceiling past 4294967 s saturates
        {true, 4294968.0, 0x7FFFFFFF, 0, 0xFFFFFFFFu},  // so does a time past it
        {true, 0.0, 5, 0, 0},
        {true, -1.0, 5, 0, 0},
        {false, 3.0, 5, 0, 0},  // a failed query reads as 0
        {true, 3.0, 0, 0, 0},   // no limits at all: the ceiling is 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CappedMilliseconds(c.ok, c.seconds, c.connectTimeout, c.timeout), c.expected)
            << c.seconds << " s with " << c.connectTimeout << "/" << c.timeout;
    }
}

}  // namespace
}  // namespace vrexa::http
