#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "transfer/TransferBehavior.h"

namespace vrexa::updater {

// A value not given: a version "?" means the current version.
inline constexpr const char* kNotGiven = "?";
inline constexpr std::uint32_t kDefaultLogMask = 0xFFFFFFF7u;

// (locale name, display name) pairs, in the configuration's order.
using LanguageList = std::vector<std::pair<std::string, std::string>>;

// Everything the updater knows before it starts: what to download and how to
// name it (from the string table), the install folder (registry), and the
// command-line values. Read once on the main thread, then only read.
struct UpdaterConfiguration {
    explicit UpdaterConfiguration(std::string dataFolderName = "Tembrik/Orbiq Update/LTX");

    bool elevateLaunch = true;
    std::string executablePath;
    std::string manifestHost;
    std::string packagePartnerId;
    std::string skinPartnerId;
    std::string dataFolderName;
    std::string packageId;
    std::string dataFolder;
    std::string dataFolderCopy;
    std::string displayName;    // localizable
    std::string folderName;     // localizable
    std::string skinPackageId;  // localizable
    std::string skinVersion = kNotGiven;
    std::string launchPackage;  // localizable
    std::string packageVersion = kNotGiven;
    std::string defaultPackageVersion;
    std::string defaultLocale;
    std::string installFolder;
    bool hasInstallFolder = false;
    std::uint32_t logMask = kDefaultLogMask;
    LanguageList languages;

    // Developer overrides taken from the environment (empty when not given,
    // and always in a vendor's build): the endpoints and the front end
    // ("gtk" or "tty"). The manifest host override replaces manifestHost.
    std::string geolocationUrl;
    std::string eventsAnalyticsUrl;
    std::string transferAnalyticsUrl;
    std::string userInterface;
    // The texts of the public key files named by the trusted-keys override,
    // added to the keys built in; a file that cannot be read is kept as an
    // empty text, which no signature verifies under, so that a key meant to
    // be required is never silently dropped.
    std::vector<std::string> trustedKeys;

    // The localizable values resolved for a locale name.
    std::string GetDisplayName(const std::string& locale) const;
    std::string GetFolderName(const std::string& locale) const;
    std::string GetSkinPackageId(const std::string& locale) const;
    std::string GetLaunchPackage(const std::string& locale) const;
    // dataFolderCopy joined with the skin package id for the locale: where
    // the skin is downloaded to.
    std::string GetSkinFolder(const std::string& locale) const;
    // packageVersion, or defaultPackageVersion when packageVersion is "?" and
    // a default is configured.
    std::string GetEffectivePackageVersion() const;
    // The locale to start with: defaultLocale when there is a language list,
    // else "" (the user's own locale).
    std::string GetInitialLocale() const;

    const std::string& GetManifestHost() const { return manifestHost; }
    const std::string& GetSkinPartnerId() const { return skinPartnerId; }
    const std::string& GetPackageId() const { return packageId; }
    const std::string& GetPackagePartnerId() const { return packagePartnerId; }
    const std::string& GetSkinVersion() const { return skinVersion; }
    const std::string& GetInstallFolder() const { return installFolder; }
    const std::string& GetDataFolder() const { return dataFolder; }

    // The engine's settings for this updater: the defaults with the manifest
    // host (when configured), the log mask, twice the transfer threads, a
    // one-second estimate window and the transfers and logs folders under
    // dataFolderName; overridden endpoints replace the defaults.
    TransferBehavior MakeBehavior() const;

private:
    std::string Localize(const std::string& value, const std::string& locale) const;
};

// Splits "name=value;name=value" into pairs: tokens at ";" (empty ones
// dropped), each split at its first "="; tokens without "=" are skipped.
LanguageList ParseLanguageList(const std::string& text);

}  // namespace vrexa::updater
