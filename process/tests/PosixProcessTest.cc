#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "process/posix/PosixProcess.h"
#include "tests/support/TestFolder.h"

namespace vrexa::process::posix {
namespace {

using testsupport::TestFolder;

// A program that records how it was started into report.json beside itself:
// its arguments, working directory, the descriptors above 2 it holds, its
// blocked signals and whether SIGUSR2 is ignored.
const char* const kRecorder = R"(#!/usr/bin/python3 -S
import json, os, sys
fds = []
for fd in range(3, 1024):
    try:
        os.fstat(fd)
        fds.append(fd)
    except OSError:
        pass
status = dict(line.split(":", 1) for line in open("/proc/self/status").read().splitlines() if ":" in line)
ignored = int(status["SigIgn"].strip(), 16)
report = {"argv": sys.argv[1:], "cwd": os.getcwd(), "fds": fds,
          "blocked": status["SigBlk"].strip(), "usr2Ignored": bool(ignored & (1 << 11))}
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), sys.argv[0].rsplit("/", 1)[-1] + ".json"), "w") as out:
    json.dump(report, out)
sys.exit(3)
)";

class PosixProcessTest : public ::testing::Test {
protected:
    std::string PutProgram(const std::string& relative, mode_t mode = 0755) {
        const std::string path = folder_.Put(relative, kRecorder);
        ::chmod(path.c_str(), mode);
        return path;
    }
    boost::property_tree::ptree Report(const std::string& program) {
        boost::property_tree::ptree report;
        boost::property_tree::read_json(program + ".json", report);
        return report;
    }
    static std::vector<std::string> Strings(const boost::property_tree::ptree& list) {
        std::vector<std::string> values;
        for (const auto& [key, value] : list)
            values.push_back(value.get_value<std::string>());
        return values;
    }

    TestFolder folder_;
};

TEST_F(PosixProcessTest, PassesArgumentsAsElementsInItsFolderAndWaits) {
    const std::string program = PutProgram("my package/bin/run.py");
    const std::vector<std::string> arguments = {
        "/package",       "Maps", "/name", "Map Update", "",      "say \"hi\"",
        "$(touch pwned)", "a;b",  "'q'",   "new\nline",  "Grüße",
    };
    PosixProcess process(program);
    ASSERT_TRUE(process.Start(true, false, arguments)) << "a non-zero exit code still counts as started";
    // Waiting means the report is complete when Start returns.
    const auto report = Report(program);
    EXPECT_EQ(Strings(report.get_child("argv")), arguments);
    EXPECT_EQ(report.get<std::string>("cwd"), folder_ / "my package/bin");
    EXPECT_FALSE(boost::filesystem::exists(folder_ / "my package/bin/pwned"));
}

TEST_F(PosixProcessTest, StartsWithoutInheritedDescriptorsSignalMaskOrIgnoredSignals) {
    const std::string program = PutProgram("run.py");
    // A descriptor without close-on-exec, a blocked and an ignored signal.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 77), 77);
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &block, &previous), 0);
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGUSR2, &ignore, &before), 0);

    const bool started = PosixProcess(program).Start(true, false, {});

    ::sigaction(SIGUSR2, &before, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(77);
    ::close(leaked);
    ASSERT_TRUE(started);
    const auto report = Report(program);
    std::vector<std::string> fds = Strings(report.get_child("fds"));
    EXPECT_TRUE(std::find(fds.begin(), fds.end(), "77") == fds.end());
    EXPECT_TRUE(std::find(fds.begin(), fds.end(), std::to_string(leaked)) == fds.end());
    EXPECT_EQ(report.get<std::string>("blocked"), "0000000000000000");
    EXPECT_FALSE(report.get<bool>("usr2Ignored"));
}

TEST_F(PosixProcessTest, ProgramsThatCannotStartAreFailures) {
    const std::string notExecutable = PutProgram("plain.py", 0644);
    const std::string folderPath = folder_.Path();
    EXPECT_FALSE(PosixProcess(notExecutable).Start(true, false, {}));
    EXPECT_FALSE(PosixProcess(folder_ / "missing.py").Start(true, false, {}));
    EXPECT_FALSE(PosixProcess(folderPath).Start(true, false, {}));
    EXPECT_FALSE(PosixProcess("").Start(true, false, {}));
    const std::string program = PutProgram("run.py");
    EXPECT_FALSE(PosixProcess(program).Start(true, false, {std::string("a\0b", 3)}));
    EXPECT_FALSE(boost::filesystem::exists(program + ".json")) << "refused before spawning";
}

TEST_F(PosixProcessTest, ElevationGoesThroughTheElevationProgramWhenAvailable) {
    const std::string program = PutProgram("run.py");
    const std::string elevator = PutProgram("elevate.py");
    ASSERT_TRUE(PosixProcess(program, elevator).Start(true, true, {"/locale", "de"}));
    EXPECT_EQ(Strings(Report(elevator).get_child("argv")), (std::vector<std::string>{program, "/locale", "de"}));
    EXPECT_FALSE(boost::filesystem::exists(program + ".json"));

    ASSERT_TRUE(PosixProcess(program, elevator).Start(true, false, {"x"}));
    EXPECT_EQ(Strings(Report(program).get_child("argv")), std::vector<std::string>{"x"});
    boost::filesystem::remove(program + ".json");
    ASSERT_TRUE(PosixProcess(program, folder_ / "no-such-elevator").Start(true, true, {"y"}));
    EXPECT_EQ(Strings(Report(program).get_child("argv")), std::vector<std::string>{"y"})
        << "unavailable: started plainly";
}

}  // namespace
}  // namespace vrexa::process::posix
