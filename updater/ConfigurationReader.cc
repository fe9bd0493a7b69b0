#include "updater/ConfigurationReader.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "file/Filesystem.h"

namespace vrexa::updater {

ConfigurationReader::ConfigurationReader(const ResourceTable& resources, Registry& registry,
                                         file::Filesystem& filesystem, Environment overrides)
    : resources_(resources), registry_(registry), filesystem_(filesystem), overrides_(std::move(overrides)) {}

std::string ConfigurationReader::LoadResourceString(int id) const { return resources_.LoadString(id); }

std::string ConfigurationReader::ReadRegistryString(const std::string& path) {
    try {
        return registry_.ReadString(path);
    } catch (const std::exception&) {
        return "";
    }
}

std::optional<std::uint32_t> ParseUnsigned32(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t firstDigit = i;
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (i == firstDigit) return std::nullopt;
    const auto result = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

void ParseCommandLine(UpdaterConfiguration& configuration, int argc, const char* const* argv) {
    if (argc <= 0 || argv == nullptr || argv[0] == nullptr) return;
    configuration.executablePath = argv[0];
    static const std::string packageVersion = "packageVersion=";
    static const std::string skinVersion = "skinVersion=";
    static const std::string log = "log=";
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        const std::string argument = argv[i];
        if (argument.starts_with(packageVersion)) configuration.packageVersion = argument.substr(packageVersion.size());
        if (argument.starts_with(skinVersion)) configuration.skinVersion = argument.substr(skinVersion.size());
        if (argument.starts_with(log)) {
            const auto mask = ParseUnsigned32(argument.substr(log.size()));
            if (!mask) return;
            configuration.logMask = *mask;
        }
    }
}

std::string AcceptInstallFolder(const std::string& value) {
    std::string folder = value;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    if (folder.empty() || folder.front() != '/') return "";
    return folder;
}

namespace {

// A public key file is a few lines; more than this is not one.
std::string ReadKeyFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buffer[4096];
    while (in && text.size() <= 16 * 1024) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return in.eof() ? text : std::string();
}

}  // namespace

UpdaterConfiguration ConfigurationReader::Read(const std::string& dataFolderName, int argc, const char* const* argv) {
    UpdaterConfiguration configuration(dataFolderName);
    configuration.manifestHost = LoadResourceString(kManifestHostString);
    configuration.packagePartnerId = LoadResourceString(kPackagePartnerIdString);
    configuration.skinPartnerId = LoadResourceString(kSkinPartnerIdString);
    configuration.displayName = LoadResourceString(kDisplayNameString);
    configuration.folderName = LoadResourceString(kFolderNameString);
    configuration.packageId = LoadResourceString(kPackageIdString);

    std::string temp;
    try {
        temp = filesystem_.GetTempFolder();
    } catch (const std::exception&) {
    }
    // Without a temporary-files folder the data folder stays relative.
    configuration.dataFolder =
        temp.empty() ? dataFolderName : file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(temp, dataFolderName));
    configuration.dataFolderCopy = configuration.dataFolder;

    configuration.skinPackageId = LoadResourceString(kSkinPackageIdString);
    configuration.launchPackage = LoadResourceString(kLaunchPackageString);
    configuration.defaultPackageVersion = LoadResourceString(kDefaultPackageVersionString);
    configuration.defaultLocale = LoadResourceString(kDefaultLocaleString);

    if (const std::string valuePath = LoadResourceString(kRegistryValueString); !valuePath.empty()) {
        configuration.installFolder = AcceptInstallFolder(ReadRegistryString(valuePath));
        configuration.hasInstallFolder = !configuration.installFolder.empty();
    }

    ParseCommandLine(configuration, argc, argv);
    configuration.languages = ParseLanguageList(LoadResourceString(kLanguagesString));

    if (const auto host = overrides_(kManifestHostVariable)) configuration.manifestHost = *host;
    if (const auto url = overrides_(kGeolocationUrlVariable)) configuration.geolocationUrl = *url;
    if (const auto url = overrides_(kEventsAnalyticsUrlVariable)) configuration.eventsAnalyticsUrl = *url;
    if (const auto url = overrides_(kTransferAnalyticsUrlVariable)) configuration.transferAnalyticsUrl = *url;
    if (const auto ui = overrides_(kUserInterfaceVariable)) configuration.userInterface = *ui;
    if (const auto keys = overrides_(kTrustedKeysVariable)) {
        std::size_t start = 0;
        while (start <= keys->size()) {
            const std::size_t end = std::min(keys->find(':', start), keys->size());
            if (end > start) configuration.trustedKeys.push_back(ReadKeyFile(keys->substr(start, end - start)));
            start = end + 1;
        }
    }
    return configuration;
}

}  // namespace vrexa::updater
