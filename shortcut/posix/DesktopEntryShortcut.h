#pragma once

#include <string>

#include "shortcut/SimpleShortcut.h"

namespace vrexa::shortcut::posix {

// A shortcut as a desktop entry, "<name>.desktop"; Copy and Remove also
// recognise "<name>.url".
class DesktopEntryShortcut : public SimpleShortcut {
public:
    using SimpleShortcut::SimpleShortcut;

    // Refuses (false, nothing written) a name that is not one plain path
    // component or a target that is not UTF-8 or holds control characters.
    // The entry is written aside and renamed over the old one, so a reader
    // never sees half an entry and a failure leaves the old one whole.
    bool Create(const std::string& target) override;
    bool Copy(const std::string& destinationFolder, const std::string& newName) override;
    bool Remove(const std::string& folder, const std::string& name) override;

    // The entry's text for a name and a target.
    static std::string Content(const std::string& name, const std::string& target);
    // A string value with the general escapes: backslash, and a leading space
    // that readers would otherwise trim.
    static std::string EscapeString(const std::string& value);
    // One Exec argument, quoted, with the quoting and field-code escapes;
    // EscapeString still applies to the whole Exec value.
    static std::string QuoteExecArgument(const std::string& argument);
    // One non-empty path component that is not "." or "..", UTF-8, without
    // "/" or control characters, short enough for a file name with its
    // extension.
    static bool IsPlainName(const std::string& name);
};

}  // namespace vrexa::shortcut::posix
