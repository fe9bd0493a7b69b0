#pragma once

#include <string>
#include <string_view>

namespace vrexa {

// The one escaper of JSON string values. Every mode escapes what JSON
// requires (the quotation mark, the backslash and the control characters
// below U+0020); they differ in what else they escape, because each kind of
// document has readers that rely on its form, and changing one would change
// bytes that are already stored or already parsed elsewhere.
enum class JsonEscaping {
    // Byte by byte, for every document that leaves the process (analytics
    // posts, log lines): every byte outside printable ASCII is its own \u00XX
    // (upper-case), the slash is \/, and \b \f \n \r \t keep their short
    // forms; DEL stays. This is deliberate, not an oversight of UTF-8: the
    // text written there comes from servers, libraries and file names and
    // need not be UTF-8, and this form is pure ASCII, so a document is never
    // malformed whatever bytes it carries, each byte is recoverable as the
    // character of the same number, and the receivers and log readers have
    // always been given exactly this.
    PerByte,
    // Character by character, for the stored transfer records: the text must
    // be UTF-8 (std::invalid_argument otherwise: it could not be written
    // faithfully); '"', '\' and '/' get a backslash; control characters, DEL
    // and every character above U+00FF are \uXXXX (upper-case; above U+FFFF
    // a surrogate pair); U+0080 to U+00FF stay as they are, in UTF-8. The
    // records every earlier version wrote have this form.
    WideCharacters,
    // Only what JSON requires, for lines people read as well as scripts (the
    // command-line tool): \" \\ \n \r \t, other control characters as \u00xx
    // (lower-case); everything else, UTF-8 included, as it is.
    Minimal,
};

// Appends text, escaped as mode says, to out, without quotation marks.
void AppendJsonEscaped(std::string& out, std::string_view text, JsonEscaping mode);

// The escaped text, without quotation marks.
std::string JsonEscaped(std::string_view text, JsonEscaping mode);

// The escaped text between quotation marks: a whole JSON string value.
std::string JsonQuoted(std::string_view text, JsonEscaping mode);

}  // namespace vrexa
