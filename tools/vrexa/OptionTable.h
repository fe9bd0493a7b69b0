#pragma once

#include <string>
#include <vector>

namespace vrexa::cli {

// One command-line option as users see it. The parser, `--help`, the man
// page and the shell completion are all made from the same rows, so what the
// program accepts and what it documents cannot drift apart.
struct OptionText {
    std::string name;       // "--partner"
    std::string shortName;  // "-q", or empty
    std::string argument;   // "ID"; empty for a switch. "FILE" and "DIR" complete as paths
    std::string help;       // one or more sentences, wrapped where shown
    std::string variable;   // environment variable that supplies the default, or empty
    bool repeatable = false;
    // Commands the option belongs to; empty: every command.
    std::vector<std::string> commands;

    bool TakesValue() const { return !argument.empty(); }
    bool AppliesTo(const std::string& command) const;

    // For building table rows: the row with one more property.
    OptionText Short(std::string letter) const;
    OptionText From(std::string environmentVariable) const;
    OptionText Repeatable() const;
    OptionText Only(std::vector<std::string> commandWords) const;
};

// A row for an option that takes a value, and for a switch.
OptionText Valued(std::string name, std::string argument, std::string help);
OptionText Switch(std::string name, std::string help);

// A command word and what it does.
struct CommandText {
    std::string word;      // "download"
    std::string synopsis;  // what follows the word in the usage lines
    std::string help;
    // What the command's operand completes to: "DIR" folders, "TRANSFER_ID"
    // the stored transfers; empty: nothing.
    std::string operand;
};

// An exit status and what it means to a script.
struct ExitText {
    int code;
    std::string meaning;
};

// The whole description of a program's command line, from which its texts
// are rendered.
struct CommandLineText {
    std::string program;
    std::string version;
    std::string summary;      // the man page's one-line NAME
    std::string description;  // paragraphs separated by blank lines
    std::vector<CommandText> commands;
    std::vector<OptionText> options;
    std::vector<ExitText> exits;
    // Further man page sections: title, then paragraphs.
    std::vector<std::pair<std::string, std::string>> sections;
};

// The option's name as the user may write it: "-q, --quiet", "--partner ID".
std::string OptionLabel(const OptionText& option);

// The rows of an option list as `--help` shows them: labels in a column,
// help wrapped to `width` columns beside them (79: an 80-column terminal
// never wraps on its own).
std::string OptionsHelp(const std::vector<OptionText>& options, std::size_t width = 79);

// `text` broken into lines of at most `width` columns, each starting with
// `indent` spaces (a word longer than a line is kept whole).
std::string Wrap(const std::string& text, std::size_t indent, std::size_t width);

// The man page, in roff, for `man -l`.
std::string ManPage(const CommandLineText& text);

// A bash completion script: commands, the options of the command typed so far,
// files and folders where an option or the command takes one. Stored
// transfer ids come from `PROGRAM list`.
std::string BashCompletion(const CommandLineText& text);

}  // namespace vrexa::cli
