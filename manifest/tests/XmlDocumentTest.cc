#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include "manifest/InputManifest.h"
#include "manifest/ManifestException.h"
#include "manifest/tests/TreeDocuments.h"
#include "manifest/XmlDocument.h"

namespace vrexa {
namespace {

using boost::property_tree::ptree;
using testing::Nested;

ptree ReadRaw(const std::string& document) {
    std::istringstream stream(document);
    ptree tree;
    boost::property_tree::read_xml(stream, tree);
    return tree;
}

std::vector<std::string> Keys(const ptree& node) {
    std::vector<std::string> keys;
    for (const auto& [key, child] : node)
        keys.push_back(key + "=" + child.data());
    return keys;
}

TEST(XmlDocumentTest, AttributesAreAppendedAfterTheElementsOwnChildrenAtEveryLevel) {
    ptree tree = ReadRaw("<a x=\"1\" y=\"2\"><b z=\"3\">text</b><c/></a>");
    LiftAttributes(tree);

    const ptree& a = tree.get_child("a");
    EXPECT_EQ(Keys(a), (std::vector<std::string>{"<xmlattr>=", "b=text", "c=", "x=1", "y=2"}));
    EXPECT_EQ(Keys(a.get_child("b")), (std::vector<std::string>{"<xmlattr>=", "z=3"}));
    EXPECT_EQ(a.get_child("b").data(), "text");
    // The attribute block itself stays where the reader put it.
    EXPECT_EQ(a.get<std::string>("<xmlattr>.x"), "1");
}

TEST(XmlDocumentTest, AnAttributeReadsLikeAChildElementOfTheSameNameAndValue) {
    ptree lifted = ReadRaw("<node><NodeInfo NodeId=\"7\" Host=\"h\"/></node>");
    LiftAttributes(lifted);
    EXPECT_EQ(lifted.get<std::string>("node.NodeInfo.NodeId"), "7");
    EXPECT_EQ(lifted.get<std::string>("node.NodeInfo.Host"), "h");
}

TEST(XmlDocumentTest, DocumentWithoutAttributesIsUnchanged) {
    ptree tree = ReadRaw("<a><b>1</b><!-- note --><c><d>2</d></c></a>");
    const ptree before = tree;
    LiftAttributes(tree);
    EXPECT_EQ(tree, before);
}

TEST(XmlDocumentTest, NestingIsCountedOnElementsOnly) {
    const struct {
        std::string text;
        int maxDepth;
        bool within;
    } cases[] = {
        {"<a><b><c/></b></a>", 3, true},
        {"<a><b><c/></b></a>", 2, false},
        {"<a><b><c></c></b></a>", 2, false},
        {"<?xml version=\"1.0\"?><!DOCTYPE a [<!ELEMENT a ANY>]><a><!-- <b><c><d> --></a>", 1, true},
        {"<a><![CDATA[<b><c><d>]]></a>", 1, true},
        {"<a x=\"/>\" y='>'><b/></a>", 2, true},
        {"<a x=\"/>\"><b x=\"/>\"><c/></b></a>", 2, false},
        // Stray closing tags cannot buy room for deeper nesting.
        {"</x></x></x><a><b><c/></b></a>", 2, false},
        {Nested(64, "<n>", "</n>"), 64, true},
        {Nested(65, "<n>", "</n>"), 64, false},
        {"<a><b", 1, false},
        {"no markup", 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XmlNestingWithin(c.text, c.maxDepth), c.within) << c.text.substr(0, 80);
    }
}

TEST(XmlDocumentTest, ReadingRefusesOversizedDeepAndMalformedDocumentsAsParseErrors) {
    const DocumentLimits limits{1000, 8};
    const struct {
        std::string document;
        bool reads;
    } cases[] = {
        {"<a n=\"1\"><b>2</b></a>", true},
        {"<a>" + std::string(990, 'x') + "</a>", true},
        {"<a>" + std::string(995, 'x') + "</a>", false},  // one byte over
        {Nested(9, "<n>", "</n>"), false},
        {"<a><b>", false},
        {"<a>", false},
        {"<a x=\"1></a>", false},
    };
    for (const auto& c : cases) {
        std::istringstream stream(c.document);
        ptree tree;
        if (c.reads) {
            ReadXmlDocument(stream, tree, limits);
            EXPECT_FALSE(tree.empty());
        } else {
            EXPECT_THROW(ReadXmlDocument(stream, tree, limits), ManifestParseException) << c.document.substr(0, 40);
        }
    }
    std::istringstream stream("<a n=\"1\"><b>2</b></a>");
    ptree tree;
    ReadXmlDocument(stream, tree, limits);
    EXPECT_EQ(tree.get<std::string>("a.n"), "1");
    EXPECT_EQ(tree.get<std::string>("a.b"), "2");
}

// About 40 000 nested elements overflow a recursive parser's stack; the
// nesting check refuses them first.
TEST(XmlDocumentTest, HostileNestingIsRefusedWithoutOverflowingTheStack) {
    std::istringstream stream(Nested(200000, "<n>", "</n>"));
    ptree tree;
    EXPECT_THROW(ReadXmlDocument(stream, tree, kPackageManifestLimits), ManifestParseException);
}

// Records what a streaming read hands over, and can refuse an entry.
class RecordedEntries : public StreamedEntries {
public:
    const std::vector<std::string>& EntriesPath() const override { return path_; }
    void BeginEntries() override { ++begun; }
    void ReadEntry(const std::string& key, const ptree& entry) override {
        if (key == refused) throw std::runtime_error("refused");
        entries.emplace_back(key, entry);
    }

    int begun = 0;
    std::string refused = "-";
    std::vector<std::pair<std::string, ptree>> entries;

private:
    const std::vector<std::string> path_{"p", "l"};
};

ptree ReadDocument(const std::string& document, StreamedEntries* entries) {
    std::istringstream stream(document);
    ptree tree;
    ReadXmlDocument(stream, tree, kPackageManifestLimits, entries);
    return tree;
}

// Streaming hands over exactly the elements and comments that reading the
// whole tree puts under the element at the path, in order and attributes
// lifted, and leaves the rest of the tree as it would be. Where the path is
// ambiguous or missing, nothing is streamed.
TEST(XmlDocumentTest, StreamedEntriesAreTheChildrenTheWholeTreeWouldHold) {
    const struct {
        const char* name;
        std::string document;
        bool streamed;
    } cases[] = {
        {"Ordinary", "<p a=\"1\"><x>1</x><l k=\"v\">t1<e q=\"2\"><f>1</f></e><!--c--><e/>t2</l><y/></p>", true},
        {"CdataAndDeclaration", "<?xml version=\"1.0\"?><!--top--><p><l><![CDATA[<e/>]]><e>&amp;</e></l></p>", true},
        {"EmptyList", "<p><l/></p>", true},
        {"PathAfterOtherElements", "<p><m><l><e/></l></m><l><e>2</e></l></p>", true},
        {"TwoLists", "<p><l><e/></l><l><e/></l></p>", false},
        {"TwoDocumentElements", "<p><l><e/></l></p><p><l/></p>", false},
        {"NoList", "<p><m><e/></m></p>", false},
        {"ListAtTheTop", "<l><e/></l>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ptree whole = ReadDocument(c.document, nullptr);
        RecordedEntries entries;
        const ptree streamed = ReadDocument(c.document, &entries);
        EXPECT_EQ(entries.begun, c.streamed ? 1 : 0);
        if (!c.streamed) {
            EXPECT_TRUE(entries.entries.empty());
            EXPECT_EQ(streamed, whole);
            continue;
        }
        std::set<std::string> keys;
        for (const auto& [key, entry] : entries.entries)
            keys.insert(key);
        ptree expected = whole;
        ptree& list = expected.get_child("p.l");
        std::vector<std::pair<std::string, ptree>> children;
        for (auto it = list.begin(); it != list.end();) {
            if (keys.count(it->first) != 0) {
                children.emplace_back(it->first, it->second);
                it = list.erase(it);
            } else {
                ++it;
            }
        }
        EXPECT_EQ(entries.entries, children);
        EXPECT_EQ(streamed, expected);
    }
    RecordedEntries ordinary;
    ReadDocument(cases[0].document, &ordinary);
    ASSERT_EQ(ordinary.entries.size(), 3u);
    EXPECT_EQ(ordinary.entries[0].second.get<std::string>("q"), "2");
    EXPECT_EQ(ordinary.entries[1].first, "<xmlcomment>");
}

TEST(XmlDocumentTest, AStreamedEntryThatIsRefusedOrABrokenDocumentIsAParseError) {
    RecordedEntries refusing;
    refusing.refused = "e";
    EXPECT_THROW(ReadDocument("<p><l><e/></l></p>", &refusing), ManifestParseException);
    // The whole text is parsed before any entry is handed over.
    RecordedEntries broken;
    EXPECT_THROW(ReadDocument("<p><l><e/></l></p><", &broken), ManifestParseException);
    EXPECT_EQ(broken.begun, 0);
    EXPECT_TRUE(broken.entries.empty());
}

}  // namespace
}  // namespace vrexa
