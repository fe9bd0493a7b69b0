// Packages whose files cannot share one destination folder are refused
// before any file work is built.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "transfer/TransferStatusData.h"
#include "workflow/PackageLayout.h"
#include "workflow/tests/TestPackages.h"

namespace vrexa {
namespace {

TEST(PackageLayoutTest, NormalizedPathsDropLeadingSlashesEmptyAndDotSegments) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/b.bin", "a/b.bin"},
        {"/a/b.bin", "a/b.bin"},
        {"//a//b.bin", "a/b.bin"},
        {"./a/./b.bin", "a/b.bin"},
        {"a/b/", "a/b"},
        {"/", ""},
        {"./.", ""},
        {".hidden/x", ".hidden/x"},
        {"a/../b", "a/../b"},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(NormalizeFilePath(path), expected) << path;
}

TEST(PackageLayoutTest, ConflictsAreFoundAndSoundLayoutsPass) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::uint64_t>> files;
        std::optional<std::string> conflict;
    } cases[] = {
        {"distinct files", {{"a/b.bin", 1}, {"a/c.bin", 2}, {"b", 3}, {"ab/b.bin", 4}}, std::nullopt},
        {"a folder prefix that is no folder", {{"a", 1}, {"ab/c", 1}}, std::nullopt},
        {"same path twice", {{"a/b.bin", 1}, {"x", 1}, {"a/b.bin", 1}}, "one file is named twice, as a/b.bin"},
        {"same file by leading slash", {{"a/b.bin", 1}, {"/a/b.bin", 1}}, "one file is named twice, as /a/b.bin"},
        {"same file by double slash", {{"a/b.bin", 1}, {"a//b.bin", 1}}, "one file is named twice, as a//b.bin"},
        {"same file by dot segment", {{"a/b.bin", 1}, {"./a/./b.bin", 1}}, "one file is named twice, as ./a/./b.bin"},
        {"file that is a folder", {{"a/b", 1}, {"a/b/c.bin", 1}}, "one path is both a file and a folder: a/b"},
        {"folder listed after its file", {{"x/y/z", 1}, {"x", 1}}, "one path is both a file and a folder: x"},
        {"the destination itself", {{"a", 1}, {"/", 1}}, "no file is named by /"},
        {"total of exactly 2^64 - 1", {{"a", kMax - 1}, {"b", 1}}, std::nullopt},
        {"total wrapping 64 bits", {{"a", kMax - 1}, {"b", 1}, {"c", 1}}, "the total size exceeds 64 bits"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindLayoutConflict(*testing::MakeSizedPackage(c.files)), c.conflict) << c.name;
    }
}

TEST(PackageLayoutTest, RefusalIsARejectedRequestNamingTheStepAndTheConflict) {
    const auto refusal = RefuseLayout(testing::MakeSizedPackage({{"a", 1}, {"/a", 1}}), "SomeWork::ExecuteTask");
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->ToTransferError(), TransferError::RequestRejected);
    EXPECT_EQ(refusal->GetErrorMessage(), "SomeWork::ExecuteTask refused the package: one file is named twice, as /a");
    EXPECT_EQ(RefuseLayout(testing::MakeSizedPackage({{"a", 1}}), "SomeWork::ExecuteTask"), nullptr);
    EXPECT_EQ(RefuseLayout(nullptr, "SomeWork::ExecuteTask"), nullptr);
}

}  // namespace
}  // namespace vrexa
