#include "transfer/JsonTempFileManifestStoreImpl.h"

#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>

#include "manifest/DocumentLimits.h"
#include "manifest/JsonDocument.h"
#include "manifest/ManifestException.h"

namespace vrexa {

namespace {

using boost::property_tree::ptree;

// The next code point of UTF-8 text at i (advancing i); ManifestParseException
// for bytes that are not UTF-8: overlong forms, surrogates, values above
// U+10FFFF, truncated sequences.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i++);
    if (lead < 0x80) {
        return lead;
    }
    int more;
    char32_t point;
    char32_t least;
    if ((lead & 0xE0) == 0xC0) {
        more = 1, point = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2, point = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3, point = lead & 0x07, least = 0x10000;
    } else {
        throw ManifestParseException();
    }
    for (; more > 0; --more) {
        if (i >= text.size() || (byte(i) & 0xC0) != 0x80) {
            throw ManifestParseException();
        }
        point = (point << 6) | (byte(i++) & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        throw ManifestParseException();
    }
    return point;
}

void AppendEscape(std::string& out, char32_t unit) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(unit >> shift) & 0xF];
    }
}

void AppendString(std::string& out, const std::string& text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t point = NextCodePoint(text, i);
        if (point == '"' || point == '\\' || point == '/') {
            out += '\\';
            out += static_cast<char>(point);
        } else if (point < 0x20 || point == 0x7F) {
            AppendEscape(out, point);
        } else if (point <= 0xFF) {
            out.append(text, start, i - start);
        } else if (point <= 0xFFFF) {
            AppendEscape(out, point);
        } else {
            const char32_t offset = point - 0x10000;
            AppendEscape(out, 0xD800 + (offset >> 10));
            AppendEscape(out, 0xDC00 + (offset & 0x3FF));
        }
    }
    out += '"';
}

// Objects for nodes with children (arrays when every key is empty), strings
// for values. Depth is bounded by the trees written here (a flat record).
void AppendValue(std::string& out, const ptree& node) {
    if (node.empty()) {
        AppendString(out, node.data());
        return;
    }
    bool array = true;
    for (const auto& [key, child] : node) {
        array = array && key.empty();
    }
    out += array ? '[' : '{';
    bool first = true;
    for (const auto& [key, child] : node) {
        if (!first) {
            out += ',';
        }
        first = false;
        if (!array) {
            AppendString(out, key);
            out += ':';
        }
        AppendValue(out, child);
    }
    out += array ? ']' : '}';
}

}  // namespace

void JsonTempFileManifestStoreImpl::Parse(std::istream& stream, ptree& tree) {
    ReadJsonDocument(stream, tree, kStoredTransferLimits);
}

void JsonTempFileManifestStoreImpl::Serialize(const ptree& tree, std::ostream& stream) {
    try {
        std::string text;
        if (tree.empty()) {
            text = "{}";
        } else {
            AppendValue(text, tree);
        }
        text += '\n';
        if (!stream.write(text.data(), static_cast<std::streamsize>(text.size()))) {
            throw ManifestParseException();
        }
    } catch (...) {
        throw ManifestParseException();
    }
}

std::string JsonTempFileManifestStoreImpl::FileName(const std::string& id) { return id + ".json"; }

}  // namespace vrexa
