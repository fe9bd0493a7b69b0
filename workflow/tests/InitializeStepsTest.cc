// The initialization steps that need no network: the country policy and the
// final step that lets the downloaded programs run.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/posix/FilesystemImpl.h"
#include "manifest/StandardGeolocationManifest.h"
#include "tests/support/TestFolder.h"
#include "transfer/TransferFileExceptionData.h"
#include "transfer/TransferStatusData.h"
#include "workflow/AllowExecuteWork.h"
#include "workflow/GeofenceWork.h"
#include "workflow/tests/TestPackages.h"
#include "workflow/tests/TestTransfer.h"

namespace vrexa {
namespace {

namespace fs = std::filesystem;
using testing::ErrorOf;
using testing::MakePackage;
using testing::Message;
using testing::TestPackageOptions;
using testing::TestTransfer;

std::shared_ptr<GeolocationManifest> Country(const std::string& code) {
    auto manifest = std::make_shared<StandardGeolocationManifest>();
    if (!code.empty()) {
        boost::property_tree::ptree tree;
        tree.put("ip", "192.0.2.7");
        tree.put("country_code", code);
        manifest->Read(tree);
    }
    return manifest;
}

TEST(GeofenceWorkTest, PolicyDecidesByExactCountryCodeAndAnUnknownCountryIsTheEmptyCode) {
    const struct {
        const char* policy;
        std::string country;
        bool allowed;
    } cases[] = {
        {"", "SE", true},           {"None", "DK", true},       {"Whitelist", "SE", true},
        {"Whitelist", "se", false}, {"Whitelist", "DK", false}, {"Whitelist", "", false},
        {"Blacklist", "SE", false}, {"Blacklist", "DK", true},  {"Blacklist", "", true},
    };
    for (const auto& c : cases) {
        auto transfer = std::make_shared<TestTransfer>();
        TestPackageOptions options;
        options.policy = c.policy;
        if (std::string(c.policy) != "None" && !options.policy.empty()) options.countries = {"SE", "NO"};
        transfer->SetPackage(MakePackage({{"a.bin", "abc"}}, options));
        transfer->SetGeolocation(Country(c.country));
        const WorkStatus status = std::make_shared<GeofenceWork>(transfer)->Execute();
        const std::string label = std::string(c.policy) + "/" + c.country;
        if (c.allowed) {
            EXPECT_EQ(status.result, WorkResult::Success) << label;
            EXPECT_EQ(status.data, nullptr) << label;
        } else {
            EXPECT_EQ(status.result, WorkResult::FatalError) << label;
            EXPECT_EQ(ErrorOf(status), TransferError::GeofenceBlocked) << label;
            EXPECT_EQ(Message(status), "Geofence|" + c.country) << label;
        }
    }
}

TEST(GeofenceWorkTest, MissingPackageOrGeolocationIsAnInternalInconsistency) {
    for (bool withPackage : {false, true}) {
        auto transfer = std::make_shared<TestTransfer>();
        if (withPackage)
            transfer->SetPackage(MakePackage({{"a.bin", "abc"}}));
        else
            transfer->SetGeolocation(Country("SE"));
        const WorkStatus status = std::make_shared<GeofenceWork>(transfer)->Execute();
        EXPECT_EQ(status.result, WorkResult::FatalError);
        EXPECT_EQ(ErrorOf(status), TransferError::Unknown);
        EXPECT_EQ(Message(status), "GeofenceWork::ExecuteTask called without package or geolocation");
    }
}

class AllowExecuteWorkTest : public ::testing::Test {
protected:
    void SetUp() override {
        transfer_->GetBehavior().filesystem = &filesystem_;
        transfer_->Params().destPath = root_.string();
    }

    // Writes the files without any execute bit, as the download leaves them.
    void Place(const std::vector<testing::TestFile>& files) {
        for (const auto& file : files) {
            fs::create_directories((root_ / file.path).parent_path());
            std::ofstream(root_ / file.path, std::ios::binary) << file.bytes;
            fs::permissions(root_ / file.path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        }
    }

    bool Executable(const std::string& path) {
        const fs::perms perms = fs::status(root_ / path).permissions();
        return (perms & fs::perms::owner_exec) != fs::perms::none;
    }

    testsupport::TestFolder folder_;
    const fs::path root_{folder_.Path()};
    file::posix::FilesystemImpl filesystem_;
    std::shared_ptr<TestTransfer> transfer_ = std::make_shared<TestTransfer>();
};

TEST_F(AllowExecuteWorkTest, ProgramsAndTheRunFileBecomeExecutableOtherFilesDoNot) {
    const std::vector<testing::TestFile> files = {
        {"bin/setup", "run me"}, {"tools/helper.sh", "#!/bin/sh"}, {"data/readme.txt", "text"}, {"data/blob", "x"}};
    Place(files);
    TestPackageOptions options;
    options.run = "bin/setup";
    transfer_->SetPackage(MakePackage(files, options));

    const WorkStatus status = std::make_shared<AllowExecuteWork>(transfer_)->Execute();

    EXPECT_EQ(status.result, WorkResult::Success);
    EXPECT_TRUE(Executable("bin/setup"));
    EXPECT_TRUE(Executable("tools/helper.sh"));
    EXPECT_FALSE(Executable("data/readme.txt"));
    EXPECT_FALSE(Executable("data/blob"));
    // Execution is granted to those who may read, no one else.
    const fs::perms perms = fs::status(root_ / "bin/setup").permissions();
    EXPECT_NE(perms & fs::perms::group_exec, fs::perms::none);
    EXPECT_EQ(perms & fs::perms::others_exec, fs::perms::none);
}

TEST_F(AllowExecuteWorkTest, MissingPackageIsAnInternalInconsistency) {
    const WorkStatus status = std::make_shared<AllowExecuteWork>(transfer_)->Execute();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_EQ(ErrorOf(status), TransferError::Unknown);
    EXPECT_EQ(Message(status), "AllowExecuteWork::ExecuteTask has no package");
}

TEST_F(AllowExecuteWorkTest, MissingProgramIsAFileFailureOfItsClass) {
    Place({{"data/readme.txt", "text"}});
    transfer_->SetPackage(MakePackage({{"data/readme.txt", "text"}, {"bin/tool.sh", "#!/bin/sh"}}));
    const WorkStatus status = std::make_shared<AllowExecuteWork>(transfer_)->Execute();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_EQ(ErrorOf(status), TransferError::FileAccessError);
    EXPECT_NE(std::dynamic_pointer_cast<TransferFileExceptionData>(status.data), nullptr);
}

}  // namespace
}  // namespace vrexa
