#include <sys/stat.h>

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "locale/CustomBoostLocale.h"
#include "locale/EmbeddedMessageCatalog.h"
#include "process/posix/PosixProcess.h"
#include "tests/support/TestFolder.h"
#include "updater/PackageLauncher.h"
#include "updater/ProgramResources.h"
#include "updater/orbiq/OrbiqCatalogs.h"

namespace vrexa::updater {
namespace {

using testsupport::TestFolder;

// A run file that records its arguments and working directory beside itself.
const char* const kRunFile = R"(#!/usr/bin/python3 -S
import json, os, sys
with open(os.path.abspath(__file__) + ".json", "w") as out:
    json.dump({"argv": sys.argv[1:], "cwd": os.getcwd()}, out)
sys.exit(1)
)";

class PackageLauncherTest : public ::testing::Test {
protected:
    PackageLauncherTest()
        : resources_(CompiledResources()),
          catalog_("orbiq-updater", [this](int id) { return resources_.FindCatalog(id); }),
          locale_(catalog_, "de") {
        orbiq::RegisterOrbiqCatalogs(catalog_);
        locale_.SetLocale("de");
        // The example configuration: no host, no skin partner, default mask.
        configuration_.launchPackage = "Maps";
        configuration_.displayName = "Map Update";
        configuration_.folderName = "MapUpdate";
        configuration_.dataFolder = folder_ / "data";
        configuration_.dataFolderCopy = configuration_.dataFolder;
        configuration_.elevateLaunch = false;
    }

    std::string PutRunFile(const std::string& relative, mode_t mode = 0755) {
        const std::string path = folder_.Put(relative, kRunFile);
        ::chmod(path.c_str(), mode);
        return path;
    }
    static std::vector<std::string> Argv(const std::string& runFile) {
        boost::property_tree::ptree report;
        boost::property_tree::read_json(runFile + ".json", report);
        std::vector<std::string> argv;
        for (const auto& [key, value] : report.get_child("argv"))
            argv.push_back(value.get_value<std::string>());
        return argv;
    }

    TestFolder folder_;
    ResourceTable resources_;
    locale::EmbeddedMessageCatalog catalog_;
    locale::CustomBoostLocale locale_;
    UpdaterConfiguration configuration_;
};

TEST_F(PackageLauncherTest, TheExampleHasExactlyFourPieces) {
    PackageLauncher launcher(configuration_, locale_, "bin/run.py", "");
    EXPECT_EQ(launcher.BuildArguments(),
              " /package \"Maps\" /name \"Map Update\" /folder \"MapUpdate\" /locale \"de\"");
    EXPECT_EQ(launcher.BuildArgumentList(), (std::vector<std::string>{"/package", "Maps", "/name", "Map Update",
                                                                      "/folder", "MapUpdate", "/locale", "de"}));
}

TEST_F(PackageLauncherTest, PiecesAppearInTheirOrderWhenGiven) {
    struct Case {
        const char* name;
        std::function<void(UpdaterConfiguration&)> change;
        std::string skinRun;
        std::string tail;  // what follows the /locale piece
    };
    const std::vector<Case> cases = {
        {"MaskZero", [](auto& c) { c.logMask = 0; }, "", " /log \"0\""},
        {"MaskAllBits", [](auto& c) { c.logMask = 4294967295u; }, "", " /log \"4294967295\""},
        {"MaskDefault", [](auto& c) { c.logMask = 4294967287u; }, "", ""},
        {"Version", [](auto& c) { c.packageVersion = "5.1"; }, "", " /version \"5.1\""},
        {"DefaultVersion", [](auto& c) { c.defaultPackageVersion = "4"; }, "", " /version \"4\""},
        {"InstallFolder",
         [](auto& c) {
             c.installFolder = "/opt/Maps";
             c.hasInstallFolder = true;
         },
         "", " /downloadPath \"/opt/Maps\" /forcePath"},
        {"InstallFolderNotAccepted", [](auto& c) { c.installFolder = "/opt/Maps"; }, "",
         " /downloadPath \"/opt/Maps\""},
        {"Skin", [](auto& c) { c.skinPackageId = "skin_de"; }, "bin/start.sh", " /skin \"skin_de/bin/start.sh\""},
        {"SkinAbsoluteRun", [](auto& c) { c.skinPackageId = "skin_de"; }, "/bin/start.sh",
         " /skin \"skin_de/bin/start.sh\""},
        {"Everything",
         [](auto& c) {
             c.packageVersion = "7";
             c.skinPackageId = "s";
             c.logMask = 1;
             c.installFolder = "/i";
             c.hasInstallFolder = true;
         },
         "r", " /version \"7\" /skin \"s/r\" /log \"1\" /downloadPath \"/i\" /forcePath"},
    };
    for (const auto& c : cases) {
        UpdaterConfiguration configuration = configuration_;
        c.change(configuration);
        PackageLauncher launcher(configuration, locale_, "bin/run.py", c.skinRun);
        EXPECT_EQ(launcher.BuildArguments(),
                  " /package \"Maps\" /name \"Map Update\" /folder \"MapUpdate\" /locale \"de\"" + c.tail)
            << c.name;
    }

    configuration_.manifestHost = "127.0.0.1:8080";
    configuration_.skinPartnerId = "p";
    configuration_.displayName = "say \"hi\"";
    configuration_.launchPackage = "";
    locale::CustomBoostLocale userLocale(catalog_, "");
    PackageLauncher launcher(configuration_, userLocale, "bin/run.py", "");
    EXPECT_EQ(launcher.BuildArguments(),
              " /host \"127.0.0.1:8080\" /id \"p\" /package \"\" /name \"say \"hi\"\" /folder \"MapUpdate\"")
        << "values inserted unchanged; no /locale for the user's own locale";
    EXPECT_EQ(launcher.BuildArgumentList(),
              (std::vector<std::string>{"/host", "127.0.0.1:8080", "/id", "p", "/package", "", "/name", "say \"hi\"",
                                        "/folder", "MapUpdate"}));
}

TEST_F(PackageLauncherTest, LocalizedValuesFollowTheCurrentLocale) {
    configuration_.languages = {{"en_GB", "English"}, {"de", "Deutsch"}};
    configuration_.defaultLocale = "en_GB";
    configuration_.displayName = "en_GB=Map Update;de=Kartenupdate";
    configuration_.skinPackageId = "en_GB=skin_en;de=skin_de";
    PackageLauncher launcher(configuration_, locale_, "bin/run.py", "x.sh");
    EXPECT_EQ(launcher.BuildArguments(),
              " /package \"Maps\" /name \"Kartenupdate\" /folder \"MapUpdate\" /locale \"de\" /skin \"skin_de/x.sh\"");
    locale_.SetLocale("fr");
    EXPECT_EQ(launcher.BuildArguments(),
              " /package \"Maps\" /name \"Map Update\" /folder \"MapUpdate\" /locale \"fr\" /skin \"skin_en/x.sh\"");
}

TEST(AppendRunPath, PlainPathAppending) {
    struct Case {
        std::string id, run;
        char separator;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"skin_de", "bin\\start.exe", '\\', "skin_de\\bin\\start.exe"},
        {"skin_de", "\\bin\\start.exe", '\\', "skin_de\\bin\\start.exe"},
        {"skin_de", "bin/start.exe", '\\', "skin_de\\bin/start.exe"},
        {"skin_de\\", "bin", '\\', "skin_de\\bin"},
        {"C:", "bin", '\\', "C:bin"},
        {"", "bin", '\\', "bin"},
        {"skin_de", "", '\\', "skin_de"},
        {"skin_de", "bin/start.sh", '/', "skin_de/bin/start.sh"},
        {"skin_de/", "bin/start.sh", '/', "skin_de/bin/start.sh"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PackageLauncher::AppendRunPath(c.id, c.run, c.separator), c.expected) << c.id << " + " << c.run;
    }
}

TEST_F(PackageLauncherTest, LaunchStartsTheRunFileInItsFolderAndWritesTheShortcut) {
    const std::string runFile = PutRunFile("data/bin/run.py");
    configuration_.displayName = "Map \"Update\" $(x)";
    PackageLauncher launcher(configuration_, locale_, "bin/run.py", "");
    ASSERT_TRUE(launcher.Launch()) << "the run file's exit code 1 is not examined";
    EXPECT_EQ(Argv(runFile), launcher.BuildArgumentList());
    boost::property_tree::ptree report;
    boost::property_tree::read_json(runFile + ".json", report);
    EXPECT_EQ(report.get<std::string>("cwd"), boost::filesystem::canonical(folder_ / "data/bin").string());

    const std::string entry = TestFolder::Content(folder_ / "data/shortcuts/Maps.desktop");
    const std::string self = boost::filesystem::canonical("/proc/self/exe").string();
    EXPECT_NE(entry.find("\nExec=\"" + self + "\"\n"), std::string::npos) << entry;

    // A second launch replaces the shortcut.
    PackageLauncher other(configuration_, locale_, "bin/run.py", "", nullptr, "/opt/orbiq/orbiq-update");
    ASSERT_TRUE(other.Launch());
    EXPECT_NE(TestFolder::Content(folder_ / "data/shortcuts/Maps.desktop").find("\nExec=\"/opt/orbiq/orbiq-update\"\n"),
              std::string::npos);
}

TEST_F(PackageLauncherTest, RunPathsOutsideTheDataFolderOrNotRegularFilesAreNotStarted) {
    PutRunFile("data/bin/run.py");
    PutRunFile("outside.py");
    PutRunFile("data2/run.py");
    PutRunFile("data/plain.py", 0644);
    boost::filesystem::create_directories(folder_ / "data/folder");
    boost::filesystem::create_symlink(folder_ / "outside.py", folder_ / "data/link.py");
    boost::filesystem::create_symlink(folder_ / "data/bin/run.py", folder_ / "data/inner-link.py");

    struct Case {
        std::string run;
        bool spawned;
        bool launched;
    };
    const std::vector<Case> cases = {
        {"", false, false},
        {"../outside.py", false, false},
        {"../data2/run.py", false, false},
        {folder_ / "outside.py", false, false},
        {"link.py", false, false},
        {"folder", false, false},
        {"missing.py", false, false},
        {".", false, false},
        {"plain.py", true, false},  // not executable: the start itself fails
        {"inner-link.py", true, true},
        {"bin/../bin/run.py", true, true},
        {"/bin/run.py", true, true},  // leading "/" lands under the data folder
    };
    for (const auto& c : cases) {
        bool spawned = false;
        const auto factory = [&](const std::string& path) {
            spawned = true;
            return std::unique_ptr<process::SimpleProcess>(std::make_unique<process::posix::PosixProcess>(path));
        };
        PackageLauncher launcher(configuration_, locale_, c.run, "", factory);
        EXPECT_EQ(launcher.Launch(), c.launched) << c.run;
        EXPECT_EQ(spawned, c.spawned) << c.run;
    }
    EXPECT_FALSE(boost::filesystem::exists(folder_ / "outside.py.json"));
    EXPECT_FALSE(boost::filesystem::exists(folder_ / "data2/run.py.json"));
}

}  // namespace
}  // namespace vrexa::updater
