#include "analytics/JsonWriter.h"

#include <limits>
#include <ostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace vrexa {
namespace {

using boost::property_tree::ptree;

struct DocumentCase {
    const char* name;
    ptree tree;
    std::string expected;
};

// Cases print as their names, so test listings stay short and stable.
void PrintTo(const DocumentCase& c, std::ostream* os) { *os << c.name; }

ptree Leaf(const std::string& value) { return ptree(value); }

ptree Object(std::initializer_list<std::pair<std::string, ptree>> children) {
    ptree tree;
    for (const auto& child : children)
        tree.push_back(ptree::value_type(child.first, child.second));
    return tree;
}

ptree Array(std::initializer_list<ptree> children) {
    ptree tree;
    for (const auto& child : children)
        tree.push_back(ptree::value_type("", child));
    return tree;
}

class JsonDocumentTest : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(JsonDocumentTest, WritesCompactDocumentEndingInOneLineFeed) {
    EXPECT_EQ(ToJson(GetParam().tree), GetParam().expected);
    std::ostringstream stream;
    WriteJson(stream, GetParam().tree);
    EXPECT_EQ(stream.str(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, JsonDocumentTest,
    ::
        testing::
            Values(
                DocumentCase{"EmptyRoot", ptree(), "{}\n"},
                DocumentCase{"RootEmptyArrayMarker", Leaf(kJsonEmptyArray), "[]\n"},
                DocumentCase{"ObjectKeepsOrder", Object({{"b", Leaf("1")}, {"a", Leaf("2")}}),
                             "{\"b\":\"1\",\"a\":\"2\"}\n"},
                DocumentCase{"EmptyValueIsEmptyString", Object({{"k", Leaf("")}}), "{\"k\":\"\"}\n"},
                DocumentCase{"Markers", Object({{"o", Leaf(kJsonEmptyObject)}, {"a", Leaf(kJsonEmptyArray)}}),
                             "{\"o\":{},\"a\":[]}\n"},
                DocumentCase{"NestedObject", Object({{"m", Object({{"x", Leaf("1")}})}}), "{\"m\":{\"x\":\"1\"}}\n"},
                DocumentCase{"RootArrayOfObjects", Array({Object({{"a", Leaf("1")}}), Object({{"b", Leaf("2")}})}),
                             "[{\"a\":\"1\"},{\"b\":\"2\"}]\n"},
                DocumentCase{"InnerArrayOfStrings", Object({{"l", Array({Leaf("x"), Leaf("y")})}}),
                             "{\"l\":[\"x\",\"y\"]}\n"},
                DocumentCase{"KeysEscapedLikeValues", Object({{"a/\xC3\xA9", Leaf("\"")}}),
                             "{\"a\\/\\u00C3\\u00A9\":\"\\\"\"}\n"},
                // A node with children is a container; its own value has nowhere to go.
                DocumentCase{
                    "ValueOfContainerDropped",
                    [] {
                        ptree tree = Object({{"x", Leaf("1")}});
                        tree.put_value("ignored");
                        return tree;
                    }(),
                    "{\"x\":\"1\"}\n"},
                // Named and unnamed children mixed: an object, the unnamed under "".
                DocumentCase{"MixedChildrenAreAnObject", Object({{"a", Leaf("1")}, {"", Leaf("2")}}),
                             "{\"a\":\"1\",\"\":\"2\"}\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DoubleCase {
    double value;
    const char* expected;
};

class JsonDoubleTest : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(JsonDoubleTest, FormatsWithSixteenSignificantDigits) {
    EXPECT_EQ(FormatJsonDouble(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, JsonDoubleTest,
                         ::testing::Values(DoubleCase{0.0, "0"}, DoubleCase{1.5, "1.5"}, DoubleCase{0.001, "0.001"},
                                           DoubleCase{12.345, "12.345"}, DoubleCase{1.0 / 3.0, "0.3333333333333333"},
                                           DoubleCase{2.0 / 3.0, "0.6666666666666666"},
                                           DoubleCase{123456789012.0, "123456789012"}, DoubleCase{1e20, "1e+20"},
                                           DoubleCase{0.00001, "1e-05"},
                                           DoubleCase{1234567890.123456789, "1234567890.123457"}));

}  // namespace
}  // namespace vrexa
