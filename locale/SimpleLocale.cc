#include "locale/SimpleLocale.h"

#include <limits>
#include <set>
#include <sstream>

namespace vrexa::locale {

namespace {

std::set<std::string> Placeholders(const std::string& text) {
    std::set<std::string> found;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '}') {
            found.insert("}");
            ++i;
        } else if (text[i] == '{') {
            const std::size_t close = text.find_first_of("{}", i + 1);
            if (close == std::string::npos || text[close] == '{') {
                found.insert("{");
                ++i;
            } else {
                found.insert(text.substr(i, close - i + 1));
                i = close + 1;
            }
        } else {
            ++i;
        }
    }
    return found;
}

}  // namespace

bool SamePlaceholders(const std::string& a, const std::string& b) { return Placeholders(a) == Placeholders(b); }

std::string ReplaceAll(std::string text, const std::string& placeholder, const std::string& value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

std::string SimpleLocale::TranslatePattern(const std::string& pattern) {
    std::string translated = Translate(pattern);
    return SamePlaceholders(pattern, translated) ? translated : pattern;
}

std::string SimpleLocale::Format(const std::string& format, const std::string& argument) {
    return ReplaceAll(TranslatePattern(format), "{1}", Translate(argument));
}

std::string SimpleLocale::Format(const std::string& format, const std::string& argument1,
                                 const std::string& argument2) {
    // One pass over the pattern: a first argument that holds "{2}" (a
    // vendor's name, a path) is shown as it is, not filled in again.
    const std::string pattern = TranslatePattern(format);
    std::string text;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, 3, "{1}") == 0) {
            text += argument1;
            i += 3;
        } else if (pattern.compare(i, 3, "{2}") == 0) {
            text += argument2;
            i += 3;
        } else {
            text += pattern[i++];
        }
    }
    return text;
}

std::string SimpleLocale::FormatRaw(const std::string& format, const std::string& argument) {
    return ReplaceAll(TranslatePattern(format), "{1}", argument);
}

std::string SimpleLocale::FormatNumber(double value, int precision) {
    // Fixed notation: precision counts decimals, so sizes never turn into
    // exponents.
    std::ostringstream out;
    out << std::fixed;
    out.precision(precision < 0 ? 0 : precision);
    out << value;
    return out.str();
}

std::string SimpleLocale::FormatPercent(double value, int precision) {
    return FormatNumber(value * 100, precision) + "%";
}

std::string SimpleLocale::FormatSize(std::uint64_t bytes) {
    if (bytes < 1048576) return FormatNumber(static_cast<double>(bytes) / 1024, 0) + " KB";
    if (bytes < 1073741824) return FormatNumber(static_cast<double>(bytes) / 1048576, 2) + " MB";
    return FormatNumber(static_cast<double>(bytes) / 1073741824, 2) + " GB";
}

std::string SimpleLocale::FormatTimeRemaining(std::int64_t seconds) {
    if (seconds < 0) return Translate("Calculating time remaining");
    // 64-bit arithmetic: the estimate saturates at the largest 32-bit value,
    // to which the extra minute is still added. Any larger value a caller
    // hands in saturates at the largest 64-bit value instead of wrapping.
    constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
    if (seconds > 60) seconds = seconds > kLargest - 60 ? kLargest : seconds + 60;
    return FormatRemaining(seconds / 3600, seconds % 3600 / 60, seconds % 60);
}

}  // namespace vrexa::locale
