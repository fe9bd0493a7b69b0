#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

namespace vrexa {

// The writer of every JSON document that leaves the process (analytics posts,
// log lines). The output is compact and its strings are escaped byte by byte
// (JsonEscaping::PerByte, text/JsonEscape.h, which says why).
//
// Shape of a tree node:
//   value kJsonEmptyObject, no children   -> {}
//   value kJsonEmptyArray, no children    -> []
//   no children (not the root)            -> "value" (every value is a string)
//   root without children                 -> {} (an empty document)
//   children, all unnamed                 -> [ ... ]
//   otherwise                             -> { "key": ..., ... } (a node's own
//                                            value is dropped when it has children)

// Tree values that stand for an empty object and an empty array.
inline constexpr const char* kJsonEmptyObject = "boost::property_tree::json_parser::empty_object";
inline constexpr const char* kJsonEmptyArray = "boost::property_tree::json_parser::empty_array";

// Writes tree as one compact JSON document followed by one line feed.
void WriteJson(std::ostream& out, const boost::property_tree::ptree& tree);

// The same document as a string (with its final line feed).
std::string ToJson(const boost::property_tree::ptree& tree);

// A floating-point value as documents carry it: general format, 16 significant
// digits, independent of the process locale ("0.25", "1e+20").
std::string FormatJsonDouble(double value);

}  // namespace vrexa
