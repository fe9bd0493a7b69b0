#include "manifest/TrustedComment.h"

#include <charconv>

#include "manifest/Minisign.h"

namespace vrexa {

namespace {

template <typename T>
T ParseNumber(std::string_view key, std::string_view value) {
    T number{};
    const char* end = value.data() + value.size();
    // from_chars takes a leading minus for signed types; a plus or spaces it
    // refuses, as it should.
    const auto [stop, error] = std::from_chars(value.data(), end, number);
    if (value.empty() || error != std::errc() || stop != end) {
        throw MinisignFormatError("trusted comment: " + std::string(key) + " is not a number");
    }
    return number;
}

}  // namespace

TrustedComment ParseTrustedComment(std::string_view text) {
    TrustedComment comment;
    bool seen[5] = {};
    auto once = [&](int which, std::string_view key) {
        if (seen[which]) throw MinisignFormatError("trusted comment: " + std::string(key) + " given twice");
        seen[which] = true;
    };
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        text.remove_prefix(start);
        const std::size_t end = text.find(' ');
        const std::string_view token = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end);
        const std::size_t equals = token.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = token.substr(0, equals);
        const std::string_view value = token.substr(equals + 1);
        if (key == "kind") {
            once(0, key);
            comment.kind = value;
        } else if (key == "id") {
            once(1, key);
            comment.id = value;
        } else if (key == "version") {
            once(2, key);
            comment.version = value;
        } else if (key == "serial") {
            once(3, key);
            comment.serial = ParseNumber<std::uint64_t>(key, value);
        } else if (key == "expires") {
            once(4, key);
            comment.expires = ParseNumber<std::int64_t>(key, value);
        }
    }
    return comment;
}

std::string FormatTrustedComment(const TrustedComment& comment) {
    std::string text;
    auto add = [&](std::string_view key, const std::string& value) {
        if (!text.empty()) text += ' ';
        text += key;
        text += '=';
        text += value;
    };
    if (!comment.kind.empty()) add("kind", comment.kind);
    if (!comment.id.empty()) add("id", comment.id);
    if (!comment.version.empty()) add("version", comment.version);
    if (comment.serial) add("serial", std::to_string(*comment.serial));
    if (comment.expires) add("expires", std::to_string(*comment.expires));
    return text;
}

}  // namespace vrexa
