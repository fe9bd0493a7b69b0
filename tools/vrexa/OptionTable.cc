#include "tools/vrexa/OptionTable.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace vrexa::cli {
namespace {

constexpr std::size_t kLabelColumn = 32;

std::string HelpWithVariable(const OptionText& option) {
    std::string help = option.help;
    if (option.repeatable) help += " (repeatable)";
    if (!option.variable.empty()) help += " [$" + option.variable + "]";
    return help;
}

// Text for roff: backslashes and minus signs escaped (so that options can be
// copied from the rendered page), and a line never starts as a request.
std::string Roff(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        lineStart = c == '\n';
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::string> Paragraphs(const std::string& text) {
    std::vector<std::string> paragraphs;
    std::string current;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            if (!current.empty()) paragraphs.push_back(current);
            current.clear();
            continue;
        }
        current += current.empty() ? line : " " + line;
    }
    if (!current.empty()) paragraphs.push_back(current);
    return paragraphs;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The bash function's name: letters, digits and underscores only.
std::string ShellName(const std::string& program) {
    std::string name = "_";
    for (char c : program)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// compgen for an argument of this kind, or empty when nothing completes it.
std::string CompletionFor(const std::string& argument, const std::string& program) {
    if (argument == "FILE") return "compgen -f -- \"$cur\"";
    if (argument == "DIR") return "compgen -d -- \"$cur\"";
    if (argument == "TRANSFER_ID") {
        return "compgen -W \"$(" + program + " list 2>/dev/null | cut -f1)\" -- \"$cur\"";
    }
    return {};
}

}  // namespace

bool OptionText::AppliesTo(const std::string& command) const {
    return commands.empty() || std::find(commands.begin(), commands.end(), command) != commands.end();
}

OptionText OptionText::Short(std::string letter) const {
    OptionText row = *this;
    row.shortName = std::move(letter);
    return row;
}

OptionText OptionText::From(std::string environmentVariable) const {
    OptionText row = *this;
    row.variable = std::move(environmentVariable);
    return row;
}

OptionText OptionText::Repeatable() const {
    OptionText row = *this;
    row.repeatable = true;
    return row;
}

OptionText OptionText::Only(std::vector<std::string> commandWords) const {
    OptionText row = *this;
    row.commands = std::move(commandWords);
    return row;
}

OptionText Valued(std::string name, std::string argument, std::string help) {
    OptionText row;
    row.name = std::move(name);
    row.argument = std::move(argument);
    row.help = std::move(help);
    return row;
}

OptionText Switch(std::string name, std::string help) { return Valued(std::move(name), "", std::move(help)); }

std::string OptionLabel(const OptionText& option) {
    std::string label = option.shortName.empty() ? option.name : option.shortName + ", " + option.name;
    if (option.TakesValue()) label += " " + option.argument;
    return label;
}

std::string Wrap(const std::string& text, std::size_t indent, std::size_t width) {
    std::istringstream words(text);
    std::string word;
    std::string out;
    std::string line;
    while (words >> word) {
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += line.empty() ? word : " " + word;
    }
    if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
    return out;
}

std::string OptionsHelp(const std::vector<OptionText>& options, std::size_t width) {
    std::string out;
    for (const OptionText& option : options) {
        const std::string label = "  " + OptionLabel(option);
        std::string help = Wrap(HelpWithVariable(option), kLabelColumn, width);
        if (label.size() + 2 <= kLabelColumn) {
            // The first help line goes beside the label.
            out += label + help.substr(label.size());
        } else {
            out += label + "\n" + help;
        }
    }
    return out;
}

std::string ManPage(const CommandLineText& text) {
    std::ostringstream out;
    out << ".TH " << Upper(text.program) << " 1 \"\" \"" << Roff(text.program + " " + text.version)
        << "\" \"User Commands\"\n";
    // Option names and variables are looked up as typed: neither hyphenated
    // nor stretched.
    out << ".nh\n.ad l\n";
    out << ".SH NAME\n" << Roff(text.program) << " \\- " << Roff(text.summary) << "\n";
    out << ".SH SYNOPSIS\n";
    for (const CommandText& command : text.commands) {
        out << ".B " << Roff(text.program + " " + command.word) << "\n";
        if (!command.synopsis.empty()) out << Roff(command.synopsis) << "\n";
        out << ".br\n";
    }
    out << ".SH DESCRIPTION\n";
    for (const std::string& paragraph : Paragraphs(text.description))
        out << ".PP\n" << Roff(paragraph) << "\n";
    out << ".SH COMMANDS\n";
    for (const CommandText& command : text.commands) {
        out << ".TP\n.B " << Roff(command.word) << "\n" << Roff(command.help) << "\n";
    }
    out << ".SH OPTIONS\n";
    for (const OptionText& option : text.options) {
        out << ".TP\n";
        if (!option.shortName.empty()) out << "\\fB" << Roff(option.shortName) << "\\fR, ";
        out << "\\fB" << Roff(option.name) << "\\fR";
        if (option.TakesValue()) out << " \\fI" << Roff(option.argument) << "\\fR";
        out << "\n" << Roff(option.help);
        if (!option.variable.empty()) out << " Default: the environment variable \\fB" << option.variable << "\\fR.";
        if (option.repeatable) out << " May be given more than once.";
        out << "\n";
    }
    for (const auto& [title, body] : text.sections) {
        out << ".SH " << Roff(Upper(title)) << "\n";
        for (const std::string& paragraph : Paragraphs(body))
            out << ".PP\n" << Roff(paragraph) << "\n";
    }
    out << ".SH EXIT STATUS\n";
    for (const ExitText& exit : text.exits) {
        out << ".TP\n.B " << exit.code << "\n" << Roff(exit.meaning) << "\n";
    }
    return out.str();
}

std::string BashCompletion(const CommandLineText& text) {
    const std::string function = ShellName(text.program);
    std::string commands;
    for (const CommandText& command : text.commands)
        commands += (commands.empty() ? "" : " ") + command.word;

    std::ostringstream out;
    out << "# bash completion for " << text.program << "\n";
    out << function << "() {\n";
    out << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n";
    out << "    (( COMP_CWORD > 0 )) && prev=${COMP_WORDS[COMP_CWORD-1]}\n";
    out << "    COMPREPLY=()\n";
    // The value of an option that takes one.
    out << "    case $prev in\n";
    for (const OptionText& option : text.options) {
        if (!option.TakesValue()) continue;
        out << "        " << option.name << ")";
        const std::string complete = CompletionFor(option.argument, text.program);
        if (!complete.empty()) out << " COMPREPLY=($(" << complete << "));";
        out << " return 0 ;;\n";
    }
    out << "    esac\n";
    // The command typed so far: the first word that is not an option or an
    // option's value.
    out << "    local command= i word\n";
    out << "    for (( i = 1; i < COMP_CWORD; i++ )); do\n";
    out << "        word=${COMP_WORDS[i]}\n";
    out << "        case $word in\n";
    std::string valued;
    for (const OptionText& option : text.options) {
        if (option.TakesValue()) valued += (valued.empty() ? "" : "|") + option.name;
    }
    if (!valued.empty()) out << "            " << valued << ") (( i++ )) ;;\n";
    out << "            -*) ;;\n";
    out << "            *) command=$word; break ;;\n";
    out << "        esac\n";
    out << "    done\n";
    out << "    if [[ $cur == -* ]]; then\n";
    out << "        local options=\n";
    out << "        case $command in\n";
    for (const CommandText& command : text.commands) {
        std::string names;
        for (const OptionText& option : text.options) {
            if (!option.AppliesTo(command.word)) continue;
            names += (names.empty() ? "" : " ") + option.name;
            if (!option.shortName.empty()) names += " " + option.shortName;
        }
        out << "            " << command.word << ") options=\"" << names << "\" ;;\n";
    }
    std::string common;
    for (const OptionText& option : text.options) {
        if (option.commands.empty()) common += (common.empty() ? "" : " ") + option.name;
    }
    out << "            *) options=\"" << common << "\" ;;\n";
    out << "        esac\n";
    out << "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n";
    out << "        return 0\n";
    out << "    fi\n";
    out << "    case $command in\n";
    out << "        '') COMPREPLY=($(compgen -W \"" << commands << "\" -- \"$cur\")) ;;\n";
    for (const CommandText& command : text.commands) {
        const std::string complete = CompletionFor(command.operand, text.program);
        if (!complete.empty()) out << "        " << command.word << ") COMPREPLY=($(" << complete << ")) ;;\n";
    }
    out << "    esac\n";
    out << "    return 0\n";
    out << "}\n";
    out << "complete -F " << function << " " << text.program << "\n";
    return out.str();
}

}  // namespace vrexa::cli
