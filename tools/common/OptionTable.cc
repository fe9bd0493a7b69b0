#include "tools/common/OptionTable.h"

#include <sstream>

namespace vrexa::tools {

namespace {

constexpr std::size_t kHelpColumn = 22;
constexpr std::size_t kWidth = 79;

std::string Heading(const Option& option) {
    std::string text(option.name);
    if (!option.shortName.empty()) {
        text = std::string(option.shortName) + ", " + text;
    }
    if (!option.argument.empty()) {
        text += " " + std::string(option.argument);
    }
    return text;
}

// Words of text laid out from column indent, never past kWidth unless one
// word alone is longer; the first line continues whatever out ends with.
void AppendWrapped(std::string& out, std::string_view text, std::size_t indent, std::size_t column) {
    std::istringstream words{std::string(text)};
    std::string word;
    bool first = true;
    while (words >> word) {
        if (!first && column + 1 + word.size() > kWidth) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
    }
    out += '\n';
}

// Roff text: a backslash is \e, a hyphen in an option is \-, and a line that
// would begin with a request character is guarded.
std::string Roff(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        lineStart = c == '\n';
    }
    return out;
}

// Paragraphs (separated by a blank line) as roff paragraphs.
std::string RoffParagraphs(std::string_view text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\n\n", start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view paragraph = text.substr(start, end - start);
        while (!paragraph.empty() && paragraph.back() == '\n')
            paragraph.remove_suffix(1);
        if (!paragraph.empty()) {
            out += ".PP\n" + Roff(paragraph) + "\n";
        }
        start = end + 2;
    }
    return out;
}

}  // namespace

const Option* FindOption(OptionTable table, std::string_view name) {
    for (const Option& option : table) {
        if (option.name == name || (!option.shortName.empty() && option.shortName == name)) {
            return &option;
        }
    }
    return nullptr;
}

std::string WrapForHelp(std::string_view text, std::size_t indent, std::size_t column) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\n\n", start);
        if (end == std::string_view::npos) end = text.size();
        if (!out.empty()) out += '\n';
        AppendWrapped(out, text.substr(start, end - start), indent, out.empty() ? column : 0);
        start = end + 2;
    }
    return out;
}

std::string OptionsHelp(OptionTable table) {
    std::string out;
    for (const Option& option : table) {
        if (option.hidden) continue;
        const std::string heading = "  " + Heading(option);
        out += heading;
        if (heading.size() + 2 > kHelpColumn) {
            out += "\n" + std::string(kHelpColumn, ' ');
        } else {
            out += std::string(kHelpColumn - heading.size(), ' ');
        }
        AppendWrapped(out, option.help, kHelpColumn, kHelpColumn);
    }
    return out;
}

std::string ManPage(const ManPageText& page, OptionTable table) {
    std::string upper(page.program);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::string out = ".TH " + Roff(upper) + " " + std::string(page.section) + "\n";
    out += ".SH NAME\n" + Roff(page.program) + " \\- " + Roff(page.summary) + "\n";
    out += ".SH SYNOPSIS\n";
    for (const std::string_view line : page.synopsis) {
        out += ".PP\n" + Roff(line) + "\n";
    }
    out += ".SH DESCRIPTION\n" + RoffParagraphs(page.description);
    out += ".SH OPTIONS\n";
    for (const Option& option : table) {
        if (option.hidden) continue;
        out += ".TP\n.B " + Roff(Heading(option)) + "\n" + Roff(option.help) + "\n";
    }
    for (const auto& [title, text] : page.sections) {
        out += ".SH " + Roff(title) + "\n" + RoffParagraphs(text);
    }
    return out;
}

std::string BashCompletion(std::string_view program, OptionTable table) {
    std::string function = "_";
    for (const char c : program) {
        function += (c == '-' || c == '.') ? '_' : c;
    }
    std::string names;
    std::string valued;
    for (const Option& option : table) {
        if (option.hidden) continue;
        for (const std::string_view name : {option.name, option.shortName}) {
            if (name.empty()) continue;
            names += (names.empty() ? "" : " ") + std::string(name);
            if (!option.argument.empty()) {
                valued += (valued.empty() ? "" : "|") + std::string(name);
            }
        }
    }
    std::string out = "# bash completion for " + std::string(program) + "\n";
    out += function + "() {\n";
    out += "    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}\n";
    if (!valued.empty()) {
        out += "    case $previous in\n";
        out += "        " + valued + ")\n";
        out += "            COMPREPLY=($(compgen -f -- \"$current\"))\n";
        out += "            return ;;\n";
        out += "    esac\n";
    }
    out += "    if [[ $current == -* ]]; then\n";
    out += "        COMPREPLY=($(compgen -W \"" + names + "\" -- \"$current\"))\n";
    out += "    else\n";
    out += "        COMPREPLY=($(compgen -f -- \"$current\"))\n";
    out += "    fi\n";
    out += "}\n";
    out += "complete -o filenames -F " + function + " " + std::string(program) + "\n";
    return out;
}

}  // namespace vrexa::tools
