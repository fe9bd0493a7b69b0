#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "updater/Environment.h"
#include "updater/Registry.h"
#include "updater/ResourceTable.h"
#include "updater/UpdaterConfiguration.h"

namespace vrexa::file {
class Filesystem;
}

namespace vrexa::updater {

// String resource ids of the configuration.
enum StringId : int {
    kManifestHostString = 102,
    kPackagePartnerIdString = 103,
    kSkinPartnerIdString = 104,
    kLaunchPackageString = 105,
    kDefaultPackageVersionString = 106,
    kSkinPackageIdString = 107,
    kPackageIdString = 108,
    kDisplayNameString = 109,
    kFolderNameString = 110,
    kLanguagesString = 112,
    kDefaultLocaleString = 113,
    kRegistryValueString = 114,
};

// Builds the configuration record from the program's string table, one
// registry value and the command line.
class ConfigurationReader {
public:
    // filesystem answers the temporary-files folder; overrides is what the
    // build lets the environment replace (see OverrideEnvironment).
    ConfigurationReader(const ResourceTable& resources, Registry& registry, file::Filesystem& filesystem,
                        Environment overrides);

    UpdaterConfiguration Read(const std::string& dataFolderName, int argc, const char* const* argv);

    // The string as the program's string resources read: "" when missing,
    // cut to 254 UTF-16 units.
    std::string LoadResourceString(int id) const;
    std::string ReadRegistryString(const std::string& path);

private:
    const ResourceTable& resources_;
    Registry& registry_;
    file::Filesystem& filesystem_;
    Environment overrides_;
};

// Fills executablePath, packageVersion, skinVersion and logMask from the
// arguments (argv[0] is the program). Every argument, the first included, is
// examined for each prefix; a "log=" value that is not a 32-bit unsigned
// number ends the parsing, keeping what was taken before. argc 0 or a null
// argv parses nothing.
void ParseCommandLine(UpdaterConfiguration& configuration, int argc, const char* const* argv);

// text as the platform's 32-bit stoul reads it in base 10: leading white
// space, an optional sign (a minus negates modulo 2^32), at least one digit,
// anything after the digits ignored. Nothing when there is no number or it is
// above 4294967295.
std::optional<std::uint32_t> ParseUnsigned32(const std::string& text);

// A registry install folder as accepted: trailing separators removed, then
// only an absolute path; "" otherwise.
std::string AcceptInstallFolder(const std::string& value);

}  // namespace vrexa::updater
