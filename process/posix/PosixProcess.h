#pragma once

#include <string>
#include <vector>

#include "process/SimpleProcess.h"

namespace vrexa::process::posix {

// posix_spawn without a shell: working directory the program's folder,
// descriptors above 2 closed, default signal dispositions and an empty
// signal mask, so the program starts clean whatever the updater had set up.
class PosixProcess : public SimpleProcess {
public:
    // elevationProgram runs the program with raised rights when elevation is
    // asked and it is executable (an absolute path; never looked up in PATH).
    explicit PosixProcess(std::string path, std::string elevationProgram = "/usr/bin/pkexec");

    bool Start(bool wait, bool elevate, const std::vector<std::string>& arguments) override;

private:
    std::string elevationProgram_;
};

}  // namespace vrexa::process::posix
