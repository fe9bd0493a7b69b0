#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree_fwd.hpp>

#include "manifest/DocumentLimits.h"

namespace vrexa {

// Makes every attribute of every element read like a child element of the
// same name and value: for each node, after its own children have been
// treated, one child per attribute is appended (in attribute order). The
// "<xmlattr>" child stays in place. Works without recursion, so a deep tree
// cannot exhaust the stack.
void LiftAttributes(boost::property_tree::ptree& tree);

// Whether no element of the XML text lies deeper than maxDepth (the document
// element is at depth 1). Comments, processing instructions, CDATA sections,
// declarations and quoted attribute values are skipped, so markup inside
// them does not count. Text that is not well formed may pass: the parser
// refuses it afterwards.
bool XmlNestingWithin(std::string_view text, int maxDepth);

class StreamedEntries;

// Where the children of the element at path (names from the document element
// down; the first element of each name, as a reader would look for it) lie
// in an XML text. Found only when that element's content is nothing but
// child elements with whitespace between them, as a generated document has
// it; comments, text or anything else there, or markup this scan cannot
// follow, find nothing. Offsets are into text.
struct XmlEntrySpans {
    std::size_t nameAt = 0;                                    // the element's name in its start tag
    std::size_t contentBegin = 0;                              // just after its start tag
    std::size_t contentEnd = 0;                                // the "</" of its end tag
    std::vector<std::pair<std::size_t, std::size_t>> entries;  // [begin, end) of each child element
};
std::optional<XmlEntrySpans> FindXmlEntries(std::string_view text, const std::vector<std::string>& path);

// Reads a text whose size and nesting are already checked as
// ReadXmlDocument does with entries, but apart: the document without the
// entries' content is parsed, then each entry FindXmlEntries finds on its
// own, so the parser never holds every entry at once. False, with tree
// untouched, when the text is not one this can read so (nothing found, the
// parser sees another structure, or it refuses a part): the text must then
// be parsed whole, and entries handed over before were dropped
// (DropEntries). The outcome is otherwise the same as parsing the whole
// text. Throws what entries throw.
bool ReadXmlEntriesApart(std::string_view text, StreamedEntries& entries, boost::property_tree::ptree& tree);

// Reads an XML document into tree as the manifest sources do: at most
// limits.maxBytes, nesting checked first, default reader flags (no trimming,
// comments kept as "<xmlcomment>"), attributes lifted. Any failure is a
// ManifestParseException.
//
// With entries, when each step of their path names exactly one element, the
// children of the element at the path go to entries one at a time, each as
// the tree would have held it, and the tree keeps that element without them.
// Otherwise (or without entries) everything goes into the tree. The entries
// are read apart (ReadXmlEntriesApart) where they can be.
void ReadXmlDocument(std::istream& stream, boost::property_tree::ptree& tree, const DocumentLimits& limits,
                     StreamedEntries* entries = nullptr);

}  // namespace vrexa
