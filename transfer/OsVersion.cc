#include "transfer/OsVersion.h"

#include <sys/utsname.h>

#include <fstream>
#include <sstream>

namespace vrexa {

namespace {

// os-release files are a few hundred bytes; a larger one is read only this far.
constexpr std::streamsize kOsReleaseLimit = 64 * 1024;

// Keeps a faulty check that accepts everything from looping for ever; real
// minor and service-pack numbers stay in single digits.
constexpr int kLargestPart = 255;

std::string ReadLimited(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::string text(static_cast<std::size_t>(kOsReleaseLimit), '\0');
    in.read(text.data(), kOsReleaseLimit);
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// A shell-style value: double quotes allow backslash escapes of $ " \ `,
// single quotes take everything literally, unquoted text ends at a blank.
std::string Unquote(const std::string& value) {
    std::string result;
    char quote = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quote == 0) {
            if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == ' ' || c == '\t') {
                break;
            } else if (c == '\\' && i + 1 < value.size()) {
                result += value[++i];
            } else {
                result += c;
            }
        } else if (c == quote) {
            quote = 0;
        } else if (quote == '"' && c == '\\' && i + 1 < value.size() &&
                   std::string("$\"\\`").find(value[i + 1]) != std::string::npos) {
            result += value[++i];
        } else {
            result += c;
        }
    }
    return result;
}

std::string KernelRelease() {
    struct utsname name {};
    if (uname(&name) != 0) {
        return {};
    }
    return name.release;
}

std::string WorkOutOsVersion() { return LinuxVersionText({"/etc/os-release", "/usr/lib/os-release"}, KernelRelease()); }

}  // namespace

std::string GetOsVersion() {
    static const std::string description = WorkOutOsVersion();
    return description;
}

std::string WindowsVersionText(const WindowsVersionCheck& isAtLeast) {
    int major = 0;
    int minor = 0;
    int servicePack = 0;
    if (isAtLeast(5, 0, 0)) {
        major = 5;
        while (major < 10 && isAtLeast(major + 1, 0, 0)) {
            ++major;
        }
        // Nothing newer than 10.0 SP0 is told apart.
        if (major < 10) {
            while (minor < kLargestPart && isAtLeast(major, minor + 1, 0)) {
                ++minor;
            }
            while (servicePack < kLargestPart && isAtLeast(major, minor, servicePack + 1)) {
                ++servicePack;
            }
        }
    }

    const std::string pack = " SP" + std::to_string(servicePack);
    std::string text = "Windows";
    if (major < 5) {
        text += " Unsupported Unknown";
    } else if (major == 5) {
        text += minor == 0 ? " 2000" : minor == 1 ? " XP" + pack : minor == 2 ? " 2003" : " Unknown";
    } else if (major == 6) {
        text += minor == 0   ? " Vista" + pack
                : minor == 1 ? " 7" + pack
                : minor == 2 ? " 8"
                : minor == 3 ? " 8.1"
                             : " Unknown";
    } else if (major == 10) {
        text += " 10";
    } else {
        text += " Unknown";
    }
    return text;
}

std::string PrettyNameOf(const std::string& osRelease) {
    std::istringstream lines(osRelease);
    std::string pretty;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 12, "PRETTY_NAME=") != 0) {
            continue;
        }
        // A later assignment overrides an earlier one, as when the file is sourced.
        pretty = Unquote(line.substr(start + 12));
    }
    return pretty;
}

std::string LinuxVersionText(const std::vector<std::string>& osReleaseFiles, const std::string& kernelRelease) {
    for (const auto& path : osReleaseFiles) {
        const std::string pretty = PrettyNameOf(ReadLimited(path));
        if (!pretty.empty()) {
            return "Linux " + pretty;
        }
    }
    return kernelRelease.empty() ? "Linux" : "Linux " + kernelRelease;
}

}  // namespace vrexa
