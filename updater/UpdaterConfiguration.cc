#include "updater/UpdaterConfiguration.h"

#include "file/Filesystem.h"

namespace vrexa::updater {

UpdaterConfiguration::UpdaterConfiguration(std::string dataFolderName) : dataFolderName(std::move(dataFolderName)) {}

LanguageList ParseLanguageList(const std::string& text) {
    LanguageList pairs;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string token = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = token.find('=');
        if (token.empty() || equals == std::string::npos) continue;
        pairs.emplace_back(token.substr(0, equals), token.substr(equals + 1));
    }
    return pairs;
}

std::string UpdaterConfiguration::Localize(const std::string& value, const std::string& locale) const {
    if (languages.empty()) return value;
    const LanguageList pairs = ParseLanguageList(value);
    if (pairs.empty()) return value;
    for (const auto& [name, text] : pairs) {
        if (name == locale) return text;
    }
    // One step back to the default locale, whose own miss is final.
    if (locale != defaultLocale) return Localize(value, defaultLocale);
    return "";
}

std::string UpdaterConfiguration::GetDisplayName(const std::string& locale) const {
    return Localize(displayName, locale);
}

std::string UpdaterConfiguration::GetFolderName(const std::string& locale) const {
    return Localize(folderName, locale);
}

std::string UpdaterConfiguration::GetSkinPackageId(const std::string& locale) const {
    return Localize(skinPackageId, locale);
}

std::string UpdaterConfiguration::GetLaunchPackage(const std::string& locale) const {
    return Localize(launchPackage, locale);
}

std::string UpdaterConfiguration::GetSkinFolder(const std::string& locale) const {
    return file::Filesystem::ToUtf8(file::Filesystem::ResolvePath(dataFolderCopy, GetSkinPackageId(locale)));
}

std::string UpdaterConfiguration::GetEffectivePackageVersion() const {
    if (packageVersion == kNotGiven && !defaultPackageVersion.empty()) return defaultPackageVersion;
    return packageVersion;
}

std::string UpdaterConfiguration::GetInitialLocale() const { return languages.empty() ? "" : defaultLocale; }

TransferBehavior UpdaterConfiguration::MakeBehavior() const {
    TransferBehavior behavior;
    if (!manifestHost.empty()) behavior.manifestHost = manifestHost;
    behavior.logMask = logMask;
    behavior.transferThreads *= 2;
    behavior.estimateWindow = 1;
    behavior.transfersFolder = (boost::filesystem::path(dataFolderName) / "transfers").generic_string();
    behavior.logsFolder = (boost::filesystem::path(dataFolderName) / "logs").generic_string();
    behavior.signatureSerialsFile = (boost::filesystem::path(dataFolderName) / "signature-serials").generic_string();
    behavior.trustedKeys.insert(behavior.trustedKeys.end(), trustedKeys.begin(), trustedKeys.end());
    behavior.locksFolder = (boost::filesystem::path(dataFolderName) / "locks").generic_string();
    if (!eventsAnalyticsUrl.empty()) {
        behavior.eventsAnalyticsUrl = eventsAnalyticsUrl;
        // The geolocation service sits under the events endpoint unless it is
        // given on its own.
        behavior.geolocationUrl = eventsAnalyticsUrl + "/geo-location";
    }
    if (!geolocationUrl.empty()) behavior.geolocationUrl = geolocationUrl;
    if (!transferAnalyticsUrl.empty()) behavior.transferAnalyticsUrl = transferAnalyticsUrl;
    return behavior;
}

}  // namespace vrexa::updater
