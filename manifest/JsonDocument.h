#pragma once

#include <istream>
#include <string_view>

#include <boost/property_tree/ptree_fwd.hpp>

#include "manifest/DocumentLimits.h"

namespace vrexa {

// Whether no object or array of the JSON text lies deeper than maxDepth (the
// outermost value is at depth 1). Brackets inside strings do not count. Text
// that is not well formed may pass: the parser refuses it afterwards.
bool JsonNestingWithin(std::string_view text, int maxDepth);

// Reads a JSON document into tree with the property-tree reader: at most
// limits.maxBytes, nesting checked first. Any failure is a
// ManifestParseException.
void ReadJsonDocument(std::istream& stream, boost::property_tree::ptree& tree, const DocumentLimits& limits);

}  // namespace vrexa
