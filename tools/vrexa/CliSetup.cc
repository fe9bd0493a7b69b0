#include "tools/vrexa/CliSetup.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

#include "file/Filesystem.h"
#include "file/posix/PrivateFolder.h"
#include "manifest/Minisign.h"
#include "transfer/ManifestStore.h"
#include "tools/vrexa/StatusFormat.h"
#include "transfer/TransferManifest.h"

namespace vrexa::cli {

std::string ReadTrustedKey(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text;
    char buffer[4096];
    while (in && text.size() <= kMaxMinisignFileBytes) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (!in.eof()) throw std::runtime_error("cannot read the trusted key " + file);
    try {
        ParseMinisignPublicKey(text);
    } catch (const MinisignFormatError& bad) {
        throw std::runtime_error("the trusted key " + file + " is not a public key: " + bad.what());
    }
    return text;
}

TransferSettings SettingsFor(const CliOptions& options) {
    TransferSettings settings;
    settings.manifestHost = options.manifestHost;
    settings.caFile = options.caFile;
    settings.geolocationUrl = options.geolocationUrl;
    settings.eventsAnalyticsUrl = options.eventsUrl;
    settings.transferAnalyticsUrl = options.transferAnalyticsUrl;
    settings.analyticsEnabled = !options.noAnalytics;
    settings.reuseFrom = options.reuseFrom;
    if (options.threads) {
        // A workflow never runs more works at once than there are threads to
        // run them; both follow the count asked for, as their defaults do.
        settings.transferThreads = *options.threads;
        settings.maxRunningWorks = *options.threads;
    }
    if (options.parallel) settings.parallelItems = *options.parallel;
    settings.rateLimit = options.rateLimit;
    if (options.logMask) settings.logMask = *options.logMask;
    for (const std::string& file : options.trustedKeyFiles)
        settings.trustedKeys.push_back(ReadTrustedKey(file));
    return settings;
}

namespace {

constexpr const char* kNoTempFolder =
    "there is no folder for this user's data: neither $XDG_CACHE_HOME nor $HOME is set and the user has no home in "
    "the password database";

std::string TempFolder(file::Filesystem& filesystem) {
    const std::string temp = filesystem.GetTempFolder();
    if (temp.empty()) throw std::runtime_error(kNoTempFolder);
    return temp;
}

std::filesystem::path EntryPath(file::Filesystem& filesystem, const std::string& transfersFolder,
                                const std::string& id) {
    return std::filesystem::path(TempFolder(filesystem)) / transfersFolder / (id + ".json");
}

// The ids of the entries in the store's folder, by file name, in id order.
std::vector<std::string> StoredIds(file::Filesystem& filesystem, const std::string& transfersFolder) {
    const std::string temp = TempFolder(filesystem);
    const std::string suffix = ".json";
    std::vector<std::string> ids;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(std::filesystem::path(temp) / transfersFolder, error), end;
         !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string id = name.substr(0, name.size() - suffix.size());
        if (IsTransferId(id)) ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace

void EnsureDataFolders(file::Filesystem& filesystem, const TransferSettings& settings) {
    const std::string temp = TempFolder(filesystem);
    for (const std::string* folder : {&settings.transfersFolder, &settings.logsFolder, &settings.locksFolder})
        file::posix::EnsurePrivateFolder(temp, *folder);
}

bool IsHeld(const std::vector<DestinationHolder>& holders, const std::string& transferId) {
    return std::any_of(holders.begin(), holders.end(),
                       [&](const DestinationHolder& holder) { return holder.transferId == transferId; });
}

RemoveOutcome RemoveStoredTransfer(file::Filesystem& filesystem, const std::string& transfersFolder,
                                   const std::string& transferId, const std::vector<DestinationHolder>& holders) {
    if (IsHeld(holders, transferId)) return RemoveOutcome::Running;
    JsonTempFileManifestStore<TransferManifest> store(transfersFolder, filesystem);
    return store.Remove(transferId) ? RemoveOutcome::Removed : RemoveOutcome::NotStored;
}

std::vector<std::string> PruneStoredTransfers(file::Filesystem& filesystem, const std::string& transfersFolder,
                                              const std::vector<DestinationHolder>& holders,
                                              std::optional<std::chrono::seconds> olderThan,
                                              std::chrono::system_clock::time_point now) {
    JsonTempFileManifestStore<TransferManifest> store(transfersFolder, filesystem);
    std::vector<std::string> removed;
    for (const std::string& id : StoredIds(filesystem, transfersFolder)) {
        if (IsHeld(holders, id)) continue;
        if (olderThan) {
            // An entry is written once, when its transfer first starts.
            struct stat status {};
            if (::lstat(EntryPath(filesystem, transfersFolder, id).c_str(), &status) != 0) continue;
            const auto stored = std::chrono::system_clock::from_time_t(status.st_mtime);
            if (now - stored <= *olderThan) continue;
        }
        if (store.Remove(id)) removed.push_back(id);
    }
    return removed;
}

std::vector<TransferParams> StoredTransfers(file::Filesystem& filesystem, const std::string& transfersFolder) {
    const std::vector<std::string> ids = StoredIds(filesystem, transfersFolder);
    JsonTempFileManifestStore<TransferManifest> store(transfersFolder, filesystem);
    std::vector<TransferParams> transfers;
    for (const std::string& id : ids) {
        TransferManifest manifest;
        // The same test a resume makes: a record naming another id is not
        // this transfer.
        if (store.Read(id, manifest) && manifest.GetParams().transferId == id) {
            transfers.push_back(manifest.GetParams());
        }
    }
    return transfers;
}

std::string StoredTransferJson(const TransferParams& params, bool running) {
    return "{\"transferId\":" + JsonQuoted(params.transferId) + ",\"partnerId\":" + JsonQuoted(params.partnerId) +
           ",\"packageId\":" + JsonQuoted(params.packageId) + ",\"versionId\":" + JsonQuoted(params.versionId) +
           ",\"dest\":" + JsonQuoted(params.destPath) + ",\"running\":" + (running ? "true" : "false") + "}";
}

std::string StoredTransferLine(const TransferParams& params, bool running) {
    auto field = [](std::string text) {
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
        return text;
    };
    return field(params.transferId) + '\t' + field(params.packageId) + '\t' + field(params.versionId) + '\t' +
           field(params.destPath) + (running ? "\trunning" : "");
}

}  // namespace vrexa::cli
