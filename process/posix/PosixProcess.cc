#include "process/posix/PosixProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace vrexa::process::posix {

namespace {

// posix_spawn's attribute and file-action records, released on every path.
class SpawnSetup {
public:
    SpawnSetup() {
        attributesReady_ = ::posix_spawnattr_init(&attributes_) == 0;
        actionsReady_ = ::posix_spawn_file_actions_init(&actions_) == 0;
    }
    ~SpawnSetup() {
        if (attributesReady_) ::posix_spawnattr_destroy(&attributes_);
        if (actionsReady_) ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool Prepare(const std::string& workingDirectory) {
        if (!attributesReady_ || !actionsReady_) return false;
        sigset_t all;
        sigset_t none;
        ::sigfillset(&all);
        ::sigemptyset(&none);
        return ::posix_spawnattr_setsigdefault(&attributes_, &all) == 0 &&
               ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0 &&
               ::posix_spawn_file_actions_addchdir_np(&actions_, workingDirectory.c_str()) == 0 &&
               ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    }

    posix_spawnattr_t* Attributes() { return &attributes_; }
    posix_spawn_file_actions_t* Actions() { return &actions_; }

private:
    posix_spawnattr_t attributes_{};
    posix_spawn_file_actions_t actions_{};
    bool attributesReady_ = false;
    bool actionsReady_ = false;
};

// The path with its last component removed; "/" for a file in the root.
std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

PosixProcess::PosixProcess(std::string path, std::string elevationProgram)
    : SimpleProcess(std::move(path)), elevationProgram_(std::move(elevationProgram)) {}

bool PosixProcess::Start(bool wait, bool elevate, const std::vector<std::string>& arguments) {
    if (path_.empty() || path_.find('\0') != std::string::npos) return false;
    for (const auto& argument : arguments) {
        if (argument.find('\0') != std::string::npos) return false;
    }

    std::vector<std::string> command;
    const bool elevated = elevate && !elevationProgram_.empty() && elevationProgram_.front() == '/' &&
                          ::access(elevationProgram_.c_str(), X_OK) == 0;
    if (elevated) command.push_back(elevationProgram_);
    command.push_back(path_);
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& element : command)
        argv.push_back(element.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    if (!setup.Prepare(ParentFolder(path_))) return false;
    pid_t child = 0;
    if (::posix_spawn(&child, argv.front(), setup.Actions(), setup.Attributes(), argv.data(), environ) != 0) {
        return false;
    }

    if (!wait) {
        // Reaped in the background, so no zombie is left behind.
        std::thread([child] {
            int ignored = 0;
            while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return true;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace vrexa::process::posix
