#include "manifest/JsonDocument.h"

#include <sstream>
#include <string>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "manifest/ManifestException.h"

namespace vrexa {

bool JsonNestingWithin(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > maxDepth) {
                return false;
            }
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return true;
}

void ReadJsonDocument(std::istream& stream, boost::property_tree::ptree& tree, const DocumentLimits& limits) {
    const std::string text = ReadBoundedDocument(stream, limits.maxBytes);
    if (!JsonNestingWithin(text, limits.maxDepth)) {
        throw ManifestParseException();
    }
    try {
        std::istringstream document(text);
        boost::property_tree::ptree read;
        boost::property_tree::read_json(document, read);
        tree.swap(read);
    } catch (...) {
        throw ManifestParseException();
    }
}

}  // namespace vrexa
