#include <sstream>
#include <string>

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include "manifest/JsonDocument.h"
#include "manifest/ManifestException.h"
#include "manifest/tests/TreeDocuments.h"

namespace vrexa {
namespace {

using boost::property_tree::ptree;
using testing::Nested;

TEST(JsonDocumentTest, NestingCountsObjectsAndArraysOutsideStrings) {
    const struct {
        std::string text;
        int maxDepth;
        bool within;
    } cases[] = {
        {R"({"a":{"b":[1,2]}})", 3, true},
        {R"({"a":{"b":[1,2]}})", 2, false},
        {R"({"a":"{[{[{[","b":"\"{{{"})", 1, true},
        {R"({"a":"\\","b":{"c":{}}})", 2, false},  // an escaped backslash ends before the quote
        {"]]]]" + Nested(3, "[", "]"), 2, false},
        {Nested(64, "[", "]"), 64, true},
        {Nested(65, "{\"k\":", "}"), 64, false},
        {"42", 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonNestingWithin(c.text, c.maxDepth), c.within) << c.text.substr(0, 80);
    }
}

TEST(JsonDocumentTest, ReadingRefusesOversizedDeepAndMalformedDocumentsAsParseErrors) {
    const DocumentLimits limits{100, 4};
    const struct {
        std::string document;
        bool reads;
    } cases[] = {
        {R"({"ip":"1.2.3.4","country_code":"SE"})", true},
        {R"({"k":")" + std::string(92, 'x') + R"("})", true},  // exactly 100 bytes
        {R"({"k":")" + std::string(93, 'x') + R"("})", false},
        {Nested(5, "{\"k\":", "}"), false},
        {R"({"ip":"1.2.3.4")", false},  // truncated
        {"", false},
    };
    for (const auto& c : cases) {
        std::istringstream stream(c.document);
        ptree tree;
        if (c.reads) {
            ReadJsonDocument(stream, tree, limits);
            EXPECT_FALSE(tree.empty());
        } else {
            EXPECT_THROW(ReadJsonDocument(stream, tree, limits), ManifestParseException) << c.document.substr(0, 40);
        }
    }
}

// About 100 000 nested objects overflow a recursive parser's stack; the
// nesting check refuses them first.
TEST(JsonDocumentTest, HostileNestingIsRefusedWithoutOverflowingTheStack) {
    std::istringstream stream(Nested(300000, "{\"a\":", "}"));
    ptree tree;
    EXPECT_THROW(ReadJsonDocument(stream, tree, kPackageManifestLimits), ManifestParseException);
}

}  // namespace
}  // namespace vrexa
