#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace vrexa::testing {

// Runs a shell command line; its exit code (-1 when it did not exit) and what
// it wrote to stdout and stderr together.
inline std::pair<int, std::string> RunCommand(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {-1, "cannot run: " + command};
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace vrexa::testing
