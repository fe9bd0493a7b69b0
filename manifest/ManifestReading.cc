#include "manifest/ManifestReading.h"

namespace vrexa::reading {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const ptree* FindChild(const ptree& tree, std::string_view key) {
    auto found = tree.find(std::string(key));
    return found == tree.not_found() ? nullptr : &found->second;
}

const ptree& RequiredChild(const ptree& tree, std::string_view key) {
    const ptree* child = FindChild(tree, key);
    if (child == nullptr) Reject();
    return *child;
}

const std::string& RequiredText(const ptree& tree, std::string_view key) { return RequiredChild(tree, key).data(); }

std::string OptionalText(const ptree& tree, std::string_view key, std::string_view fallback) {
    const ptree* child = FindChild(tree, key);
    return child == nullptr ? std::string(fallback) : child->data();
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t max) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (digit > max || value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::uint64_t RequiredNumber(const ptree& tree, std::string_view key, std::uint64_t max) {
    const auto value = ParseDecimal(RequiredText(tree, key), max);
    if (!value) Reject();
    return *value;
}

bool ReadFlag(std::string_view text) {
    if (Trim(text) == "false") return false;
    const auto number = ParseDecimal(text, 1);
    return !(number && *number == 0);
}

std::optional<std::uint32_t> ParseHexGroup(std::string_view group) {
    while (!group.empty() && IsSpace(group.front()))
        group.remove_prefix(1);
    if (!group.empty() && group.front() == '+') group.remove_prefix(1);
    bool digits = false;
    if (group.size() >= 2 && group[0] == '0' && (group[1] == 'x' || group[1] == 'X')) {
        group.remove_prefix(2);
        digits = true;  // the "0" of the prefix is itself a digit
    }
    std::uint32_t value = 0;
    for (char c : group) {
        const int digit = HexDigit(c);
        if (digit < 0) break;
        // A group is at most eight characters, so the value cannot overflow; the
        // guard keeps that true for longer input.
        if (value > 0x0FFFFFFFu) return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
        digits = true;
    }
    if (!digits) return std::nullopt;
    return value;
}

}  // namespace vrexa::reading
