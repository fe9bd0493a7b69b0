#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrexa::tools {

// One command-line option of a tool. A tool keeps all of them in one table,
// from which its parser, its --help, its man page and its shell completion
// are made, so the four can never disagree.
struct Option {
    std::string_view name;       // "--partner"
    std::string_view shortName;  // "-h"; empty: none
    std::string_view argument;   // what the value is called ("ID"); empty: the option takes none
    std::string_view help;       // one sentence or a few; wrapped where it is shown
    bool hidden = false;         // left out of --help and the man page (build-time helpers)
    bool repeatable = false;     // may be given more than once; otherwise a second time is a usage error
};

using OptionTable = std::span<const Option>;

// The option called name (its long or its short name), or nothing.
const Option* FindOption(OptionTable table, std::string_view name);

// The options as --help lists them: "  --name ARGUMENT" and the help text
// beside it from column 23, wrapped at 79 columns; hidden ones left out.
std::string OptionsHelp(OptionTable table);

// Text as --help shows it: each paragraph (paragraphs are separated by a
// blank line) wrapped at 79 columns, its later lines indented by indent; the
// first line starts at column (after what the caller wrote before it).
std::string WrapForHelp(std::string_view text, std::size_t indent = 0, std::size_t column = 0);

// What a man page says besides the options.
struct ManPageText {
    std::string_view program;  // "vrexa-publish"
    std::string_view section;  // "1"
    std::string_view summary;  // the NAME line after the dash
    std::vector<std::string_view> synopsis;
    std::string_view description;                                         // paragraphs separated by blank lines
    std::vector<std::pair<std::string_view, std::string_view>> sections;  // after OPTIONS: title, paragraphs
};

// The man page in roff (the man macros): NAME, SYNOPSIS, DESCRIPTION,
// OPTIONS from the table, then the extra sections. Text is escaped, so a
// line of text never reads as a request.
std::string ManPage(const ManPageText& page, OptionTable table);

// A bash completion script for program: its options (long and short), and
// file names for the values of options and for the operands.
std::string BashCompletion(std::string_view program, OptionTable table);

}  // namespace vrexa::tools
