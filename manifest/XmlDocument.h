#pragma once

#include <istream>
#include <string_view>

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

// Reads an XML document into tree as the manifest sources do: at most
// limits.maxBytes, nesting checked first, default reader flags (no trimming,
// comments kept as "<xmlcomment>"), attributes lifted. Any failure is a
// ManifestParseException.
//
// With entries, when each step of their path names exactly one element, the
// children of the element at the path go to entries one at a time, each as
// the tree would have held it, and the tree keeps that element without them.
// Otherwise (or without entries) everything goes into the tree.
void ReadXmlDocument(std::istream& stream, boost::property_tree::ptree& tree, const DocumentLimits& limits,
                     StreamedEntries* entries = nullptr);

}  // namespace vrexa
