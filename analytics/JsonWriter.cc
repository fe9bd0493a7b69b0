#include "analytics/JsonWriter.h"

#include <charconv>
#include <stdexcept>
#include <system_error>

#include "text/JsonEscape.h"

namespace vrexa {

namespace {

using boost::property_tree::ptree;

void AppendString(std::string& out, std::string_view text) {
    out += '"';
    AppendJsonEscaped(out, text, JsonEscaping::PerByte);
    out += '"';
}

bool AllUnnamed(const ptree& node) {
    for (const auto& child : node) {
        if (!child.first.empty()) return false;
    }
    return true;
}

// Recursion depth follows the tree's depth; the documents written here are a
// few levels deep, built by this program, never by a peer.
void AppendNode(std::string& out, const ptree& node, bool root) {
    if (node.empty()) {
        const std::string& value = node.data();
        if (value == kJsonEmptyObject || (root && value.empty())) {
            out += "{}";
        } else if (value == kJsonEmptyArray) {
            out += "[]";
        } else {
            AppendString(out, value);
        }
        return;
    }
    const bool array = AllUnnamed(node);
    out += array ? '[' : '{';
    bool first = true;
    for (const auto& [key, child] : node) {
        if (!first) out += ',';
        first = false;
        if (!array) {
            AppendString(out, key);
            out += ':';
        }
        AppendNode(out, child, false);
    }
    out += array ? ']' : '}';
}

}  // namespace

std::string ToJson(const ptree& tree) {
    std::string out;
    AppendNode(out, tree, true);
    out += '\n';
    return out;
}

void WriteJson(std::ostream& out, const ptree& tree) {
    const std::string text = ToJson(tree);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string FormatJsonDouble(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 16);
    if (result.ec != std::errc()) throw std::logic_error("FormatJsonDouble ran out of room");
    return std::string(buffer, result.ptr);
}

}  // namespace vrexa
