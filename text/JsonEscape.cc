#include "text/JsonEscape.h"

#include <stdexcept>

#include "text/Utf8.h"

namespace vrexa {

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

// \u and four hexadecimal digits of one UTF-16 unit.
void AppendUnit(std::string& out, char32_t unit, const char* digits) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += digits[(unit >> shift) & 0xF];
    }
}

// The two-character escape of c in the modes that use them, or nothing.
const char* ShortEscape(unsigned char c) {
    switch (c) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\b':
            return "\\b";
        case '\f':
            return "\\f";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        default:
            return nullptr;
    }
}

void AppendPerByte(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (const char* escape = ShortEscape(byte)) {
            out += escape;
        } else if (byte == '/') {
            out += "\\/";
        } else if (byte < 0x20 || byte >= 0x80) {
            AppendUnit(out, byte, kUpperDigits);
        } else {
            out += c;
        }
    }
}

void AppendWideCharacters(std::string& out, std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        const std::optional<char32_t> point = NextCodePoint(text, at);
        if (!point) {
            throw std::invalid_argument("JSON text to escape by character is not UTF-8");
        }
        if (*point == '"' || *point == '\\' || *point == '/') {
            out += '\\';
            out += static_cast<char>(*point);
        } else if (*point < 0x20 || *point == 0x7F) {
            AppendUnit(out, *point, kUpperDigits);
        } else if (*point <= 0xFF) {
            out.append(text.substr(start, at - start));
        } else if (*point <= 0xFFFF) {
            AppendUnit(out, *point, kUpperDigits);
        } else {
            const char32_t offset = *point - 0x10000;
            AppendUnit(out, 0xD800 + (offset >> 10), kUpperDigits);
            AppendUnit(out, 0xDC00 + (offset & 0x3FF), kUpperDigits);
        }
    }
}

void AppendMinimal(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\' || byte == '\n' || byte == '\r' || byte == '\t') {
            out += ShortEscape(byte);
        } else if (byte < 0x20) {
            AppendUnit(out, byte, kLowerDigits);
        } else {
            out += c;
        }
    }
}

}  // namespace

void AppendJsonEscaped(std::string& out, std::string_view text, JsonEscaping mode) {
    switch (mode) {
        case JsonEscaping::PerByte:
            AppendPerByte(out, text);
            return;
        case JsonEscaping::WideCharacters:
            AppendWideCharacters(out, text);
            return;
        case JsonEscaping::Minimal:
            AppendMinimal(out, text);
            return;
    }
    throw std::logic_error("AppendJsonEscaped called with an unknown mode");
}

std::string JsonEscaped(std::string_view text, JsonEscaping mode) {
    std::string out;
    out.reserve(text.size());
    AppendJsonEscaped(out, text, mode);
    return out;
}

std::string JsonQuoted(std::string_view text, JsonEscaping mode) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    AppendJsonEscaped(out, text, mode);
    out += '"';
    return out;
}

}  // namespace vrexa
