#include "shortcut/posix/DesktopEntryShortcut.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "file/posix/AtomicWrite.h"
#include "text/Utf8.h"

namespace vrexa::shortcut::posix {

namespace {

bool HasControlCharacters(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return true;
    }
    return false;
}

const char* const kDesktopExtension = ".desktop";
const char* const kUrlExtension = ".url";

}  // namespace

bool DesktopEntryShortcut::IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= 200 && name.find('/') == std::string::npos &&
           !HasControlCharacters(name) && IsUtf8(name);
}

std::string DesktopEntryShortcut::EscapeString(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\') {
            out += "\\\\";
        } else if (value[i] == ' ' && i == 0) {
            out += "\\s";
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string DesktopEntryShortcut::QuoteExecArgument(const std::string& argument) {
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '%') {
            out += "%%";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string DesktopEntryShortcut::Content(const std::string& name, const std::string& target) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           EscapeString(name) +
           "\n"
           "Exec=" +
           EscapeString(QuoteExecArgument(target)) +
           "\n"
           "Terminal=false\n";
}

bool DesktopEntryShortcut::Create(const std::string& target) {
    if (!IsPlainName(name_) || target.empty() || HasControlCharacters(target) || !IsUtf8(target)) return false;
    try {
        if (!fileSystem_.SafeEnsureDirectories(folder_)) return false;
        const std::string folder = file::Filesystem::ToUtf8(file::Filesystem::ToPath(folder_));
        const std::string entry = folder + "/" + name_ + kDesktopExtension;
        // Desktops and menus read the entry while it is replaced.
        return !file::posix::WriteFileAtomically(entry, Content(name_, target), file::posix::FileAccess::Shared);
    } catch (...) {
        return false;
    }
}

bool DesktopEntryShortcut::Copy(const std::string& destinationFolder, const std::string& newName) {
    if (!IsPlainName(name_) || !IsPlainName(newName)) return false;
    try {
        const std::string desktop =
            file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(folder_, name_ + kDesktopExtension));
        const bool isDesktop = fileSystem_.Exists(desktop);
        const std::string extension = isDesktop ? kDesktopExtension : kUrlExtension;
        const std::string source =
            isDesktop ? desktop : file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(folder_, name_ + extension));
        const std::string destination =
            file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(destinationFolder, newName + extension));
        fileSystem_.Copy(source, destination, false);
        return true;
    } catch (...) {
        return false;
    }
}

bool DesktopEntryShortcut::Remove(const std::string& folder, const std::string& name) {
    if (!IsPlainName(name)) return false;
    try {
        const std::string desktop = name + kDesktopExtension;
        const bool isDesktop =
            fileSystem_.Exists(file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(folder, desktop)));
        return fileSystem_.Remove(folder, isDesktop ? desktop : name + kUrlExtension, false, false);
    } catch (...) {
        return false;
    }
}

}  // namespace vrexa::shortcut::posix
