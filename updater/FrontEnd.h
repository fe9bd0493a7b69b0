#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace vrexa::updater {

enum class FrontEnd { Window, Terminal };

// The window when a display can be opened, else the terminal. requested (the
// developer override, "" when not given) forces "gtk" (still the terminal,
// with a note, when no display opens) or "tty"; any other value is noted and
// ignored. openDisplay is asked at most once and not at all for "tty".
FrontEnd ChooseFrontEnd(const std::string& requested, const std::function<bool()>& openDisplay, std::ostream& notes);

}  // namespace vrexa::updater
