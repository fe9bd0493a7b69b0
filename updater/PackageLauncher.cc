#include "updater/PackageLauncher.h"

#include <unistd.h>

#include <boost/filesystem/operations.hpp>

#include "file/Filesystem.h"
#include "process/posix/PosixProcess.h"
#include "shortcut/posix/DesktopEntryShortcut.h"

namespace vrexa::updater {

PackageLauncher::PackageLauncher(const UpdaterConfiguration& configuration, locale::SimpleLocale& locale,
                                 std::string packageRun, std::string skinRun, ProcessFactory processFactory,
                                 std::string selfPath)
    : configuration_(configuration),
      locale_(locale),
      packageRun_(std::move(packageRun)),
      skinRun_(std::move(skinRun)),
      processFactory_(std::move(processFactory)),
      selfPath_(std::move(selfPath)) {
    if (!processFactory_) {
        processFactory_ = [](const std::string& path) { return std::make_unique<process::posix::PosixProcess>(path); };
    }
}

std::string PackageLauncher::CurrentExecutable() {
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return "";
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

std::string PackageLauncher::AppendRunPath(const std::string& id, const std::string& run, char separator) {
    if (run.empty()) return id;
    const bool idEnds = id.empty() || id.back() == '\\' || id.back() == '/' || id.back() == ':';
    const bool runStarts = run.front() == '\\' || run.front() == '/';
    return idEnds || runStarts ? id + run : id + separator + run;
}

std::vector<LaunchArgument> PackageLauncher::BuildPieces() {
    std::vector<LaunchArgument> pieces;
    if (!configuration_.manifestHost.empty()) pieces.push_back({"/host", configuration_.manifestHost});
    if (!configuration_.skinPartnerId.empty()) pieces.push_back({"/id", configuration_.skinPartnerId});
    // The locale's name is read afresh for each piece.
    pieces.push_back({"/package", configuration_.GetLaunchPackage(locale_.GetName())});
    pieces.push_back({"/name", configuration_.GetDisplayName(locale_.GetName())});
    pieces.push_back({"/folder", configuration_.GetFolderName(locale_.GetName())});
    if (const std::string name = locale_.GetName(); !name.empty()) pieces.push_back({"/locale", name});
    if (const std::string version = configuration_.GetEffectivePackageVersion(); version != kNotGiven) {
        pieces.push_back({"/version", version});
    }
    if (!skinRun_.empty()) {
        pieces.push_back({"/skin", AppendRunPath(configuration_.GetSkinPackageId(locale_.GetName()), skinRun_)});
    }
    if (configuration_.logMask != kDefaultLogMask) pieces.push_back({"/log", std::to_string(configuration_.logMask)});
    if (!configuration_.installFolder.empty()) {
        pieces.push_back({"/downloadPath", configuration_.installFolder});
        if (configuration_.hasInstallFolder) pieces.push_back({"/forcePath", std::nullopt});
    }
    return pieces;
}

std::string PackageLauncher::BuildArguments() {
    std::string text;
    for (const auto& piece : BuildPieces()) {
        text += " " + piece.option;
        if (piece.value) text += " \"" + *piece.value + "\"";
    }
    return text;
}

std::vector<std::string> PackageLauncher::BuildArgumentList() {
    std::vector<std::string> list;
    for (const auto& piece : BuildPieces()) {
        list.push_back(piece.option);
        if (piece.value) list.push_back(*piece.value);
    }
    return list;
}

void PackageLauncher::CreateShortcut() {
    try {
        const std::string folder =
            file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(configuration_.dataFolder, "shortcuts"));
        std::string target = selfPath_.empty() ? CurrentExecutable() : selfPath_;
        if (target.empty() && !configuration_.executablePath.empty()) {
            target = file::Filesystem::ToUtf8(file::Filesystem::ToPath(configuration_.executablePath));
        }
        shortcut::posix::DesktopEntryShortcut shortcut(configuration_.GetLaunchPackage(locale_.GetName()), folder);
        shortcut.Create(target);
    } catch (...) {
        // A missing shortcut never stops the launch.
    }
}

std::string PackageLauncher::ResolveRunPath() {
    // An empty run path would resolve to the data folder itself.
    if (packageRun_.empty()) return "";
    boost::system::error_code error;
    const auto run =
        boost::filesystem::canonical(file::Filesystem::ResolvePath(configuration_.dataFolder, packageRun_), error);
    if (error) return "";
    const auto data = boost::filesystem::canonical(file::Filesystem::ToPath(configuration_.dataFolder), error);
    if (error) return "";
    // Component by component, so "/data2/x" is not inside "/data".
    auto runPart = run.begin();
    for (auto dataPart = data.begin(); dataPart != data.end(); ++dataPart, ++runPart) {
        if (runPart == run.end() || *runPart != *dataPart) return "";
    }
    if (runPart == run.end() || !boost::filesystem::is_regular_file(run, error) || error) return "";
    return file::Filesystem::ToUtf8(run);
}

bool PackageLauncher::Launch() {
    CreateShortcut();
    try {
        const std::string path = ResolveRunPath();
        if (path.empty()) return false;
        const auto process = processFactory_(path);
        return process && process->Start(true, configuration_.elevateLaunch, BuildArgumentList());
    } catch (...) {
        return false;
    }
}

}  // namespace vrexa::updater
