#include "manifest/ContainedPath.h"

#include <string>

#include <gtest/gtest.h>

namespace vrexa {
namespace {

TEST(ContainedPath, KeepsFilesInsideTheDestination) {
    const struct {
        std::string path;
        bool contained;
    } cases[] = {
        {"setup.exe", true},
        {"setup/start.exe", true},
        {"/setup/start.exe", true},
        {"///setup.exe", true},
        {"bin\\tool.exe", true},
        {"a/..b/c..", true},
        {"./a/./b", true},
        {"...", true},
        {"data/C:", true},
        {"..", false},
        {"../setup.exe", false},
        {"/../setup.exe", false},
        {"a/../../setup.exe", false},
        {"a/..", false},
        {"a\\..\\..\\setup.exe", false},
        {"a/..\\b", false},
        {"C:\\setup.exe", false},
        {"c:setup.exe", false},
        {"/C:/setup.exe", false},
        {"\\setup.exe", false},
        {"\\\\server\\share\\setup.exe", false},
        {"//\\\\?\\C:\\setup.exe", false},
        {std::string("setup.exe\0.txt", 14), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsContainedPath(c.path), c.contained) << c.path;
    }
}

}  // namespace
}  // namespace vrexa
