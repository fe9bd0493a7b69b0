#include "updater/Environment.h"

#include <cstdlib>

#include "vrexa/UpdaterDeployment.h"

namespace vrexa::updater {

Environment ProcessEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr || *value == '\0') return std::nullopt;
        return std::string(value);
    };
}

Environment EmptyEnvironment() {
    return [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
}

Environment OverrideEnvironment() {
    return deployment::kDeveloperOverrides ? ProcessEnvironment() : EmptyEnvironment();
}

}  // namespace vrexa::updater
