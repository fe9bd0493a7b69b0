#include "manifest/XmlDocument.h"

#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "manifest/InputManifest.h"
#include "manifest/ManifestException.h"

namespace vrexa {

using boost::property_tree::ptree;

namespace {

// Position just after the first occurrence of end at or after from; npos
// when there is none (the parser will refuse the unterminated construct).
std::size_t After(std::string_view text, std::size_t from, std::string_view end) {
    const auto at = text.find(end, from);
    return at == std::string_view::npos ? at : at + end.size();
}

// Position just after the '>' that closes a tag or declaration opened at
// from, skipping quoted values (which may hold '>') and, for declarations,
// a bracketed internal subset.
std::size_t AfterTag(std::string_view text, std::size_t from) {
    char quote = 0;
    int brackets = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

namespace rapidxml = boost::property_tree::detail::rapidxml;
using XmlNode = rapidxml::xml_node<char>;

// The elements at path from the document down, one a step, when every step
// names exactly one element among its siblings; empty otherwise (a reader of
// the whole tree would pick one of several, and which is not ours to guess).
std::vector<XmlNode*> UniqueElementsAt(XmlNode& document, const std::vector<std::string>& path) {
    std::vector<XmlNode*> chain;
    XmlNode* parent = &document;
    for (const std::string& name : path) {
        XmlNode* found = nullptr;
        for (XmlNode* child = parent->first_node(); child != nullptr; child = child->next_sibling()) {
            if (child->type() != rapidxml::node_element || std::string_view(child->name()) != name) {
                continue;
            }
            if (found != nullptr) {
                return {};
            }
            found = child;
        }
        if (found == nullptr) {
            return {};
        }
        chain.push_back(found);
        parent = found;
    }
    return chain;
}

// The reader's own conversion of node into parent, except along chain (the
// element at depth and below): those elements are built here, and the
// children of the last one go to entries one at a time instead.
void ReadNodeStreaming(XmlNode* node, ptree& parent, const std::vector<XmlNode*>& chain, std::size_t depth,
                       StreamedEntries* entries) {
    if (depth >= chain.size() || node != chain[depth]) {
        boost::property_tree::xml_parser::read_xml_node(node, parent, 0);
        return;
    }
    ptree& element = parent.push_back(std::make_pair(node->name(), ptree()))->second;
    if (node->first_attribute() != nullptr) {
        ptree& attributes = element.push_back(std::make_pair("<xmlattr>", ptree()))->second;
        for (auto* attribute = node->first_attribute(); attribute != nullptr; attribute = attribute->next_attribute()) {
            attributes.push_back(std::make_pair(attribute->name(), ptree()))
                ->second.data()
                .assign(attribute->value(), attribute->value_size());
        }
    }
    const bool streamed = depth + 1 == chain.size();
    for (XmlNode* child = node->first_node(); child != nullptr; child = child->next_sibling()) {
        const bool entry = child->type() == rapidxml::node_element || child->type() == rapidxml::node_comment;
        if (!streamed || !entry) {
            ReadNodeStreaming(child, element, chain, depth + 1, entries);
            continue;
        }
        ptree single;
        boost::property_tree::xml_parser::read_xml_node(child, single, 0);
        LiftAttributes(single);
        for (const auto& [key, value] : single) {
            entries->ReadEntry(key, value);
        }
    }
}

}  // namespace

void LiftAttributes(ptree& tree) {
    // Post-order walk: a node is visited once to queue its children and once,
    // after all of them, to lift its own attributes. A node's children are
    // only appended to on its second visit, when no pointer into them is left.
    std::vector<std::pair<ptree*, bool>> pending{{&tree, false}};
    while (!pending.empty()) {
        const auto [node, childrenDone] = pending.back();
        pending.pop_back();
        if (!childrenDone) {
            pending.emplace_back(node, true);
            for (auto& [key, child] : *node) {
                if (key != "<xmlattr>") {
                    pending.emplace_back(&child, false);
                }
            }
            continue;
        }
        const auto attributes = node->find("<xmlattr>");
        if (attributes == node->not_found()) {
            continue;
        }
        const ptree lifted = attributes->second;
        for (const auto& attribute : lifted) {
            node->push_back(attribute);
        }
    }
}

bool XmlNestingWithin(std::string_view text, int maxDepth) {
    int depth = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        i = text.find('<', i);
        if (i == std::string_view::npos) {
            break;
        }
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            i = After(text, i + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            i = After(text, i + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            i = After(text, i + 2, "?>");
        } else if (rest.starts_with("<!")) {
            i = AfterTag(text, i + 2);
        } else if (rest.starts_with("</")) {
            // An unmatched closing tag never lowers the count below the top:
            // the count must stay at least the depth the parser would build.
            depth = depth > 0 ? depth - 1 : 0;
            i = AfterTag(text, i + 2);
        } else {
            const std::size_t end = AfterTag(text, i + 1);
            const bool empty = end != std::string_view::npos && end >= 2 && text[end - 2] == '/';
            // An empty element is as deep as one with content, but closes at once.
            if (depth + 1 > maxDepth) {
                return false;
            }
            if (!empty) {
                ++depth;
            }
            i = end;
        }
    }
    return true;
}

void ReadXmlDocument(std::istream& stream, ptree& tree, const DocumentLimits& limits, StreamedEntries* entries) {
    std::string text = ReadBoundedDocument(stream, limits.maxBytes);
    if (!XmlNestingWithin(text, limits.maxDepth)) {
        throw ManifestParseException();
    }
    try {
        // The reader's own parse, run in place on the text: reading through a
        // stream would copy a document of a hundred thousand files twice more.
        rapidxml::xml_document<char> document;
        document.parse<rapidxml::parse_comment_nodes>(text.data());
        const std::vector<XmlNode*> chain =
            entries != nullptr ? UniqueElementsAt(document, entries->EntriesPath()) : std::vector<XmlNode*>();
        if (!chain.empty()) {
            entries->BeginEntries();
        }
        ptree read;
        for (XmlNode* child = document.first_node(); child != nullptr; child = child->next_sibling()) {
            ReadNodeStreaming(child, read, chain, 0, entries);
        }
        LiftAttributes(read);
        tree.swap(read);
    } catch (...) {
        throw ManifestParseException();
    }
}

}  // namespace vrexa
