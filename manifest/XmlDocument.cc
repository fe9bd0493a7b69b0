#include "manifest/XmlDocument.h"

#include <algorithm>
#include <optional>
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

// Position just after the markup at from that is not an element's start or
// end tag (a comment, CDATA section, processing instruction or declaration);
// npos when it does not end.
std::size_t AfterOtherMarkup(std::string_view text, std::size_t from) {
    const std::string_view rest = text.substr(from);
    if (rest.starts_with("<!--")) return After(text, from + 4, "-->");
    if (rest.starts_with("<![CDATA[")) return After(text, from + 9, "]]>");
    if (rest.starts_with("<?")) return After(text, from + 2, "?>");
    return AfterTag(text, from + 2);
}

bool IsOtherMarkup(std::string_view text, std::size_t at) {
    return text.substr(at).starts_with("<!") || text.substr(at).starts_with("<?");
}

// The element name of the start tag whose "<" is at at.
std::string_view TagName(std::string_view text, std::size_t at) {
    const std::size_t begin = at + 1;
    const std::size_t end = std::min(text.find_first_of(" \t\r\n/>", begin), text.size());
    return text.substr(begin, end - begin);
}

bool IsWhitespace(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The children of the element whose content starts at contentBegin.
std::optional<XmlEntrySpans> SplitContent(std::string_view text, std::size_t nameAt, std::size_t contentBegin) {
    XmlEntrySpans spans;
    spans.nameAt = nameAt;
    spans.contentBegin = contentBegin;
    int depth = 0;  // below the element
    std::size_t at = contentBegin;
    for (;;) {
        const std::size_t open = text.find('<', at);
        if (open == std::string_view::npos) return std::nullopt;
        if (depth == 0 && !IsWhitespace(text.substr(at, open - at))) return std::nullopt;
        if (IsOtherMarkup(text, open)) {
            if (depth == 0) return std::nullopt;
            at = AfterOtherMarkup(text, open);
        } else if (text.substr(open).starts_with("</")) {
            if (depth == 0) {
                spans.contentEnd = open;
                return spans;
            }
            at = AfterTag(text, open + 2);
            if (--depth == 0 && at != std::string_view::npos) spans.entries.back().second = at;
        } else {
            at = AfterTag(text, open + 1);
            if (at == std::string_view::npos) return std::nullopt;
            if (depth == 0) spans.entries.emplace_back(open, at);
            if (text[at - 2] != '/') ++depth;
        }
        if (at == std::string_view::npos) return std::nullopt;
    }
}

}  // namespace

std::optional<XmlEntrySpans> FindXmlEntries(std::string_view text, const std::vector<std::string>& path) {
    if (path.empty()) return std::nullopt;
    int depth = 0;
    std::size_t matched = 0;  // elements of the path open around the scan
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('<', at);
        if (open == std::string_view::npos) break;
        if (IsOtherMarkup(text, open)) {
            at = AfterOtherMarkup(text, open);
        } else if (text.substr(open).starts_with("</")) {
            // An element of the path closed before the path was complete.
            if (--depth < static_cast<int>(matched)) return std::nullopt;
            at = AfterTag(text, open + 2);
        } else {
            at = AfterTag(text, open + 1);
            if (at == std::string_view::npos) return std::nullopt;
            const bool empty = text[at - 2] == '/';
            if (depth == static_cast<int>(matched) && TagName(text, open) == path[matched]) {
                if (matched + 1 == path.size()) {
                    return empty ? std::nullopt : SplitContent(text, open + 1, at);
                }
                ++matched;
            }
            if (!empty) ++depth;
        }
        if (at == std::string_view::npos) return std::nullopt;
    }
    return std::nullopt;
}

bool ReadXmlEntriesApart(std::string_view text, StreamedEntries& entries, ptree& tree) {
    // The parser takes a zero byte for the end of the text: in a part parsed
    // on its own, what follows it would silently go unread.
    if (text.find('\0') != std::string_view::npos) return false;
    const std::optional<XmlEntrySpans> found = FindXmlEntries(text, entries.EntriesPath());
    if (!found) return false;
    const XmlEntrySpans& spans = *found;
    // The document without the entries' content, parsed as a whole.
    std::string rest(text.substr(0, spans.contentBegin));
    rest.append(text.substr(spans.contentEnd));
    rapidxml::xml_document<char> document;
    try {
        document.parse<rapidxml::parse_comment_nodes>(rest.data());
    } catch (const rapidxml::parse_error&) {
        return false;
    }
    // The parser must see the same element there, and no other of its path.
    const std::vector<XmlNode*> chain = UniqueElementsAt(document, entries.EntriesPath());
    if (chain.empty() || chain.back()->name() != rest.data() + spans.nameAt || chain.back()->first_node() != nullptr) {
        return false;
    }
    ptree read;
    for (XmlNode* child = document.first_node(); child != nullptr; child = child->next_sibling()) {
        boost::property_tree::xml_parser::read_xml_node(child, read, 0);
    }
    ptree* list = &read;
    for (const std::string& name : entries.EntriesPath()) {
        const auto found = list->find(name);
        if (found == list->not_found()) return false;
        list = &found->second;
    }

    entries.BeginEntries();
    // The whitespace between entries is the list's text, as the parser would
    // have joined it.
    std::string whitespace;
    std::string piece;
    rapidxml::xml_document<char> entry;
    std::size_t at = spans.contentBegin;
    for (const auto& [begin, end] : spans.entries) {
        whitespace.append(text.substr(at, begin - at));
        at = end;
        piece.assign(text.substr(begin, end - begin));
        entry.clear();
        try {
            entry.parse<rapidxml::parse_comment_nodes>(piece.data());
        } catch (const rapidxml::parse_error&) {
            entries.DropEntries();
            return false;
        }
        XmlNode* only = entry.first_node();
        if (only == nullptr || only->type() != rapidxml::node_element || only->next_sibling() != nullptr) {
            entries.DropEntries();
            return false;
        }
        ptree single;
        boost::property_tree::xml_parser::read_xml_node(only, single, 0);
        LiftAttributes(single);
        for (const auto& [key, value] : single) {
            entries.ReadEntry(key, value);
        }
    }
    whitespace.append(text.substr(at, spans.contentEnd - at));
    list->data() = std::move(whitespace);
    LiftAttributes(read);
    tree.swap(read);
    return true;
}

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
        if (IsOtherMarkup(text, i)) {
            i = AfterOtherMarkup(text, i);
        } else if (text.substr(i).starts_with("</")) {
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
        if (entries != nullptr && ReadXmlEntriesApart(text, *entries, tree)) {
            return;
        }
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
