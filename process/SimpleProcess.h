#pragma once

#include <string>
#include <vector>

namespace vrexa::process {

// Starts one program, fixed at construction.
class SimpleProcess {
public:
    explicit SimpleProcess(std::string path) : path_(std::move(path)) {}
    virtual ~SimpleProcess() = default;
    SimpleProcess(const SimpleProcess&) = delete;
    SimpleProcess& operator=(const SimpleProcess&) = delete;

    const std::string& GetPath() const { return path_; }

    // Starts the program with arguments as separate elements, never through
    // a shell, so no value can inject another option. With wait, returns only
    // when the program has ended; its exit code is not examined. True when it
    // was started (and, with wait, the wait succeeded).
    virtual bool Start(bool wait, bool elevate, const std::vector<std::string>& arguments) = 0;

protected:
    const std::string path_;
};

}  // namespace vrexa::process
