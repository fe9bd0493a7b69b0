#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "locale/SimpleLocale.h"
#include "process/SimpleProcess.h"
#include "updater/UpdaterConfiguration.h"

namespace vrexa::updater {

// One piece of the package's command line: an option such as "/package" and,
// for all but "/forcePath", its value.
struct LaunchArgument {
    std::string option;
    std::optional<std::string> value;

    bool operator==(const LaunchArgument&) const = default;
};

// Hands over to the downloaded package once both transfers are complete:
// writes the updater's shortcut, then starts the package's run file with a
// command line describing the download and waits until it ends.
class PackageLauncher {
public:
    using ProcessFactory = std::function<std::unique_ptr<process::SimpleProcess>(const std::string& path)>;

    // packageRun and skinRun are the run paths the two transfers reported.
    // processFactory makes the process for a run path (the platform's by
    // default); selfPath is the shortcut's target (this program by default).
    PackageLauncher(const UpdaterConfiguration& configuration, locale::SimpleLocale& locale, std::string packageRun,
                    std::string skinRun, ProcessFactory processFactory = nullptr, std::string selfPath = "");

    // True only when the run file was started and waited for, whatever its
    // exit code.
    bool Launch();
    // Writes "shortcuts/<launch package>.desktop" under the data folder; its
    // outcome is not reported.
    void CreateShortcut();

    // The command line's pieces in their fixed order.
    std::vector<LaunchArgument> BuildPieces();
    // The command line as text, for logs: every piece preceded by a space,
    // values in double quotes, inserted unchanged.
    std::string BuildArguments();
    // The same pieces as the separate argv elements the run file receives.
    std::vector<std::string> BuildArgumentList();

    // The run file to start: packageRun under the data folder, with links
    // resolved; "" when packageRun is empty or the result is not a regular
    // file inside the data folder.
    std::string ResolveRunPath();

    // id followed by run as a path: separator goes between them unless id is
    // empty or ends with "\", "/" or ":", or run begins with "\" or "/";
    // nothing is added when run is empty.
    static std::string AppendRunPath(const std::string& id, const std::string& run, char separator = '/');
    // This program's absolute path; "" when it cannot be told.
    static std::string CurrentExecutable();

private:
    const UpdaterConfiguration& configuration_;
    locale::SimpleLocale& locale_;
    const std::string packageRun_;
    const std::string skinRun_;
    ProcessFactory processFactory_;
    std::string selfPath_;
};

}  // namespace vrexa::updater
