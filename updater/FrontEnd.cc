#include "updater/FrontEnd.h"

namespace vrexa::updater {

FrontEnd ChooseFrontEnd(const std::string& requested, const std::function<bool()>& openDisplay, std::ostream& notes) {
    if (requested == "tty") return FrontEnd::Terminal;
    if (!requested.empty() && requested != "gtk") {
        notes << "orbiq-update: unknown front end \"" << requested << "\" (gtk or tty); choosing by the display\n";
    }
    if (openDisplay()) return FrontEnd::Window;
    if (requested == "gtk") notes << "orbiq-update: no display can be opened; using the terminal\n";
    return FrontEnd::Terminal;
}

}  // namespace vrexa::updater
