#pragma once

#include <cstdint>
#include <string>

namespace vrexa::locale {

// Translates and formats every text the user sees. "{1}" and "{2}" in a
// pattern are the places its arguments go.
class SimpleLocale {
public:
    SimpleLocale() = default;
    virtual ~SimpleLocale() = default;
    SimpleLocale(const SimpleLocale&) = delete;
    SimpleLocale& operator=(const SimpleLocale&) = delete;

    virtual std::string GetName() = 0;
    virtual void SetLocale(const std::string& name) = 0;
    // The text in the current language; the text itself when there is no
    // translation.
    virtual std::string Translate(const std::string& text) = 0;
    // The translated format with every "{1}" replaced by the translated argument.
    virtual std::string Format(const std::string& format, const std::string& argument);
    // The translated format with every "{1}" replaced by argument1 and every
    // "{2}" by argument2, both as they are (neither is searched for the other).
    virtual std::string Format(const std::string& format, const std::string& argument1, const std::string& argument2);
    // The translated format with every "{1}" replaced by argument as is.
    virtual std::string FormatRaw(const std::string& format, const std::string& argument);
    virtual std::string FormatNumber(double value, int precision);
    // FormatNumber(value * 100, precision) followed by "%".
    virtual std::string FormatPercent(double value, int precision);
    // KB below 1 MiB (no decimals), MB below 1 GiB, else GB (two decimals).
    virtual std::string FormatSize(std::uint64_t bytes);
    // "Calculating time remaining" for any negative value (no estimate yet);
    // otherwise the remaining time in hours, minutes and seconds, anything
    // above a minute rounded up by one minute.
    virtual std::string FormatTimeRemaining(std::int64_t seconds);
    // The text for one split time, in the current language.
    virtual std::string FormatRemaining(std::int64_t hours, std::int64_t minutes, std::int64_t seconds) = 0;

protected:
    // Translate(pattern), unless the translation's placeholders differ from
    // the pattern's: a translation that lost, added or broke one would show a
    // garbled text, so the English pattern is used instead.
    std::string TranslatePattern(const std::string& pattern);
};

// Whether two patterns have the same placeholders ("{...}" groups, and any
// unmatched brace), regardless of order and repetition.
bool SamePlaceholders(const std::string& a, const std::string& b);

// Every occurrence of placeholder in text replaced by value.
std::string ReplaceAll(std::string text, const std::string& placeholder, const std::string& value);

}  // namespace vrexa::locale
