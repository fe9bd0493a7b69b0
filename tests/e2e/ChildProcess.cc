#include "tests/e2e/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vrexa::testsupport {
namespace {

void ClosePipe(int fds[2]) {
    for (int i = 0; i < 2; ++i) {
        if (fds[i] >= 0) ::close(fds[i]);
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& environment) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        ClosePipe(out);
        ClosePipe(err);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    std::vector<std::string> variables;
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // The child starts with default signal handling and nothing blocked,
    // whatever the test process has set up for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (spawned != 0) {
        ::close(out_);
        ::close(err_);
        throw std::runtime_error("cannot run " + args[0] + ": " + std::strerror(spawned));
    }
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
}

bool ChildProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    std::string* sinks[2] = {&result_.out, &result_.err};
    int* owners[2] = {&out_, &err_};
    if (out_ < 0 && err_ < 0) return false;
    const int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    char buffer[16384];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            ::close(*owners[i]);
            *owners[i] = -1;
        }
    }
    return out_ >= 0 || err_ >= 0;
}

bool ChildProcess::WaitForLine(const std::function<bool(const std::string&)>& matches,
                               std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        for (std::size_t newline; (newline = result_.out.find('\n', lineStart_)) != std::string::npos;) {
            const std::string line = result_.out.substr(lineStart_, newline - lineStart_);
            lineStart_ = newline + 1;
            if (matches(line)) return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return false;
        if (!Pump(static_cast<int>(left.count()))) return false;
    }
}

void ChildProcess::Signal(int signal) {
    if (!reaped_) ::kill(pid_, signal);
}

ChildResult ChildProcess::Finish(std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result_.timedOut = true;
            ::kill(pid_, SIGKILL);
            break;
        }
        if (!Pump(static_cast<int>(left.count()))) break;
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    // What is left in the pipes after a kill.
    while (Pump(0)) {
    }
    result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result_.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result_.maxRssKiB = usage.ru_maxrss;
    return result_;
}

}  // namespace vrexa::testsupport
