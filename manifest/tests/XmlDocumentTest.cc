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
    void DropEntries() override {
        ++dropped;
        entries.clear();
    }
    void ReadEntry(const std::string& key, const ptree& entry) override {
        if (key == refused) throw std::runtime_error("refused");
        entries.emplace_back(key, entry);
    }

    int begun = 0;
    int dropped = 0;
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
// ambiguous or missing, nothing is streamed. Where the list holds only
// elements and whitespace, the entries are also read apart, to the same
// result.
TEST(XmlDocumentTest, StreamedEntriesAreTheChildrenTheWholeTreeWouldHold) {
    const struct {
        const char* name;
        std::string document;
        bool streamed;
        bool apart;
    } cases[] = {
        {"TextAndComments", "<p a=\"1\"><x>1</x><l k=\"v\">t1<e q=\"2\"><f>1</f></e><!--c--><e/>t2</l><y/></p>", true,
         false},
        {"CdataAndDeclaration", "<?xml version=\"1.0\"?><!--top--><p><l><![CDATA[<e/>]]><e>&amp;</e></l></p>", true,
         false},
        {"EmptyElement", "<p><l/></p>", true, false},
        {"EmptyContent", "<p><l></l></p>", true, true},
        {"PrettyPrinted",
         "<?xml version=\"1.0\"?>\n<!-- <p><l><e/></l></p> -->\n<p>\n  <x>1</x>\n  <l k=\"v\">\n    <e q=\"a>b\">\n"
         "      <f>a &amp; b</f>\n      <!-- </e> -->\n    </e>\n    <e/>\r\n  </l>\n  <y z='2'/>\n</p>\n",
         true, true},
        {"EntriesWithCdataAndAttributesOnly", "<p><l><e><![CDATA[</e>]]></e><e a=\"1\" b='2'/></l></p>", true, true},
        {"PathAfterOtherElements", "<p><m><l><e/></l></m><l><e>2</e></l></p>", true, true},
        // The parser ends a declaration at the first ">", quoted or not; the
        // scan takes the quotes and so sees one entry where there are two.
        {"DeclarationTheScanReadsOtherwise", "<p><l><e><!DOCTYPE x \"></e><e>\"></e></l></p>", true, false},
        {"TwoLists", "<p><l><e/></l><l><e/></l></p>", false, false},
        {"TwoDocumentElements", "<p><l><e/></l></p><p><l/></p>", false, false},
        {"NoList", "<p><m><e/></m></p>", false, false},
        {"ListAtTheTop", "<l><e/></l>", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ptree whole = ReadDocument(c.document, nullptr);
        RecordedEntries entries;
        const ptree streamed = ReadDocument(c.document, &entries);
        EXPECT_EQ(entries.begun - entries.dropped, c.streamed ? 1 : 0);
        RecordedEntries apartEntries;
        ptree apart;
        EXPECT_EQ(ReadXmlEntriesApart(c.document, apartEntries, apart), c.apart);
        // Given up after it began, the entries handed over are dropped.
        EXPECT_EQ(apartEntries.dropped, c.apart ? 0 : apartEntries.begun);
        if (!c.apart) {
            EXPECT_TRUE(apartEntries.entries.empty());
        }
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
        if (c.apart) {
            EXPECT_EQ(apartEntries.begun, 1);
            EXPECT_EQ(apartEntries.entries, children);
            EXPECT_EQ(apart, expected);
        }
    }
    RecordedEntries pretty;
    ReadDocument(cases[4].document, &pretty);
    ASSERT_EQ(pretty.entries.size(), 2u);
    EXPECT_EQ(pretty.entries[0].second.get<std::string>("q"), "a>b");
    EXPECT_EQ(pretty.entries[0].second.get<std::string>("f"), "a & b");
}

// Where the children of the element at a path lie: only in a list of
// elements and whitespace, whatever markup lies around or inside them.
TEST(XmlDocumentTest, EntriesAreFoundOnlyInAListOfElementsAndWhitespace) {
    const struct {
        const char* name;
        std::string document;
        std::vector<std::string> entries;  // empty with found false: none
        bool found;
    } cases[] = {
        {"Pretty",
         "<p>\n <x/>\n <l a=\"1\">\n  <e>1</e>\n  <e q=\"a>b\"/>\n  <e><f><!-- </e> --></f></e>\n </l>\n</p>",
         {"<e>1</e>", "<e q=\"a>b\"/>", "<e><f><!-- </e> --></f></e>"},
         true},
        {"CommentedOutListFirst",
         "<?xml version=\"1.0\"?>\n<!-- <p><l><x/></l></p> -->\n<p>\n<l><e/></l></p>",
         {"<e/>"},
         true},
        {"NamesEndAtWhitespace", "<p\n><l\tx='1'><e\n/></l ></p>", {"<e\n/>"}, true},
        {"EmptyContent", "<p><l></l></p>", {}, true},
        {"EmptyElement", "<p><l/></p>", {}, false},
        {"TextBetween", "<p><l> text <e/></l></p>", {}, false},
        {"CommentBetween", "<p><l><!--c--><e/></l></p>", {}, false},
        {"CdataBetween", "<p><l><![CDATA[x]]></l></p>", {}, false},
        {"ListNotDirectlyBelow", "<p><m><l><e/></l></m></p>", {}, false},
        {"OtherDocumentElement", "<q><l><e/></l></q>", {}, false},
        {"NameWithPrefix", "<pp><l><e/></l></pp>", {}, false},
        {"FirstDocumentElementEnds", "<p></p><p><l><e/></l></p>", {}, false},
        {"Unterminated", "<p><l><e>", {}, false},
        {"UnterminatedTag", "<p><l><e a=\">", {}, false},
        {"UnterminatedComment", "<p><l><e><!-- </e></l></p>", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto spans = FindXmlEntries(c.document, {"p", "l"});
        ASSERT_EQ(spans.has_value(), c.found);
        if (!spans) continue;
        std::vector<std::string> entries;
        for (const auto& [begin, end] : spans->entries)
            entries.push_back(c.document.substr(begin, end - begin));
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(c.document.substr(spans->nameAt, 1), "l");
        EXPECT_EQ(c.document.substr(spans->contentEnd, 2), "</");
    }
}

TEST(XmlDocumentTest, AStreamedEntryThatIsRefusedOrABrokenDocumentIsAParseError) {
    RecordedEntries refusing;
    refusing.refused = "e";
    EXPECT_THROW(ReadDocument("<p><l><e/></l></p>", &refusing), ManifestParseException);
    // A broken document is refused whichever part of it is broken, also when
    // entries before the broken part were handed over.
    for (const std::string broken : {"<p><l><e/></l></p><", "<p><l> <e/> <e a=></e> </l></p>",
                                     "<p><l> <e/> <e><f></e> </l></p>", "<p><l><e/> </l><x></p>"}) {
        RecordedEntries entries;
        EXPECT_THROW(ReadDocument(broken, &entries), ManifestParseException) << broken;
    }
    // A zero byte ends the text for the parser. Here the scan takes the quote
    // in the end tag for the start of a value and puts the zero byte inside
    // the entry, where a parse of the entry alone would stop unnoticed.
    const char withZero[] = "<p><l><e></e'>\0'></l></p>";
    const std::string zero(withZero, sizeof withZero - 1);
    RecordedEntries zeroEntries;
    ptree zeroTree;
    EXPECT_FALSE(ReadXmlEntriesApart(zero, zeroEntries, zeroTree));
    EXPECT_EQ(zeroEntries.begun, 0);
    RecordedEntries zeroWhole;
    EXPECT_THROW(ReadDocument(zero, &zeroWhole), ManifestParseException);
    EXPECT_THROW(ReadDocument(zero, nullptr), ManifestParseException);
    // A broken entry after good ones: the good ones were handed over, then
    // dropped.
    RecordedEntries dropped;
    ptree tree;
    EXPECT_FALSE(ReadXmlEntriesApart("<p><l> <e/> <e a=></e> </l></p>", dropped, tree));
    EXPECT_EQ(dropped.begun, 1);
    EXPECT_EQ(dropped.dropped, 1);
    EXPECT_TRUE(dropped.entries.empty());
    EXPECT_TRUE(tree.empty());
}

}  // namespace
}  // namespace vrexa
