#include "manifest/HttpManifestException.h"

#include <string>

#include <gtest/gtest.h>

namespace vrexa {
namespace {

http::RequestStatus NotFound() {
    http::RequestStatus status;
    status.state = http::State::ClientError;
    status.responseCode = 404;
    return status;
}

TEST(ManifestException, CarriesNoMessage) {
    EXPECT_STREQ(ManifestParseException().what(), "");
    EXPECT_STREQ(HttpManifestStreamException(NotFound()).what(), "");
}

TEST(ManifestException, HttpLocatorFailureIsCaughtAsHttpAndAsLocatorFailure) {
    const auto raise = [] { throw HttpManifestLocatorException(NotFound()); };
    try {
        raise();
        FAIL() << "nothing thrown";
    } catch (const HttpManifestException& e) {
        EXPECT_EQ(e.GetStatus().responseCode, 404);
    }
    EXPECT_THROW(raise(), ManifestLocatorException);
    EXPECT_THROW(raise(), ManifestException);
    EXPECT_THROW(raise(), std::runtime_error);
}

TEST(ManifestException, HttpStreamFailureIsNotALocatorFailure) {
    const auto raise = [] { throw HttpManifestStreamException(NotFound()); };
    bool locator = false;
    bool stream = false;
    try {
        raise();
    } catch (const ManifestLocatorException&) {
        locator = true;
    } catch (const ManifestStreamException& e) {
        stream = true;
        // One ManifestException inside, reachable without ambiguity.
        const ManifestException& base = e;
        EXPECT_EQ(dynamic_cast<const HttpManifestException&>(base).GetStatus().responseCode, 404);
    }
    EXPECT_FALSE(locator);
    EXPECT_TRUE(stream);
}

}  // namespace
}  // namespace vrexa
