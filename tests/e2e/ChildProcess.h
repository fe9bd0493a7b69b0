#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vrexa::testsupport {

// How a child ended and what it printed.
struct ChildResult {
    int exitCode = -1;      // -1 when it did not exit normally
    int termSignal = 0;     // the signal that ended it, 0 when it exited
    bool timedOut = false;  // killed because it outlived its deadline
    long maxRssKiB = 0;     // its peak resident memory
    std::string out;
    std::string err;
};

// A program run in the background (no shell) with exactly the environment
// given, its stdin empty and both outputs read through pipes while it runs, so
// a test can watch its progress, signal or kill it. A child still running when
// this object goes is killed and reaped.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // Reads until a whole stdout line satisfies `matches` (true), or the
    // output ends or the deadline passes (false). Lines already looked at
    // are not offered again.
    bool WaitForLine(const std::function<bool(const std::string& line)>& matches, std::chrono::milliseconds deadline);
    void Signal(int signal);
    // Reads both outputs to their end and reaps the child; past the deadline
    // it is killed and the result says so.
    ChildResult Finish(std::chrono::seconds deadline);

private:
    // Reads what is ready within timeoutMs; false once both outputs ended.
    bool Pump(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    ChildResult result_;
    std::size_t lineStart_ = 0;
    bool reaped_ = false;
};

}  // namespace vrexa::testsupport
