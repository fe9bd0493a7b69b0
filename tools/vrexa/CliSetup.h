#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tools/vrexa/CliOptions.h"
#include "transfer/DestinationLocks.h"
#include "transfer/TransferBehavior.h"
#include "transfer/TransferParams.h"

namespace vrexa {
namespace file {
class Filesystem;
}  // namespace file
}  // namespace vrexa

namespace vrexa::cli {

// The engine settings for these options: the endpoints, threads,
// parallelism, log mask and trusted keys given; everything else, the folders
// of stored transfers and logs among them, keeps the engine's defaults.
// std::runtime_error naming the file when a trusted key cannot be read or is
// not a public key.
TransferSettings SettingsFor(const CliOptions& options);

// The text of a public key file, checked to be one.
std::string ReadTrustedKey(const std::string& file);

// The transfers stored under transfersFolder (relative to the file system's
// temporary-files folder), read through the store as a resuming process would
// read them, in id order. Files that are not a readable record of the
// transfer their name gives are left out. Throws std::runtime_error when
// there is no temporary-files folder.
std::vector<TransferParams> StoredTransfers(file::Filesystem& filesystem, const std::string& transfersFolder);

// Makes the folders of stored transfers, logs and destination locks private to
// this user (see file::posix::EnsurePrivateFolder) before anything in them is
// trusted or written. Throws std::runtime_error with a sentence for the user.
void EnsureDataFolders(file::Filesystem& filesystem, const TransferSettings& settings);

// "ID<TAB>PACKAGE<TAB>VERSION<TAB>DEST", followed by "<TAB>running" for a
// transfer writing into its destination now: one line of `vrexa list`, easy
// to cut into fields. Tabs and line breaks inside a value are shown as
// spaces, so a line is always one record.
std::string StoredTransferLine(const TransferParams& params, bool running = false);

// The same record as one JSON object (`vrexa list --json`): transferId,
// partnerId, packageId, versionId, dest, running.
std::string StoredTransferJson(const TransferParams& params, bool running = false);

bool IsHeld(const std::vector<DestinationHolder>& holders, const std::string& transferId);

enum class RemoveOutcome { Removed, NotStored, Running };

// Forgets one stored transfer unless it is running now (holders); its files
// in the destination stay.
RemoveOutcome RemoveStoredTransfer(file::Filesystem& filesystem, const std::string& transfersFolder,
                                   const std::string& transferId, const std::vector<DestinationHolder>& holders);

// Forgets every stored entry (readable or not) that is not running now and,
// with olderThan, was stored longer ago than that before `now`. Returns the
// ids forgotten, in id order.
std::vector<std::string> PruneStoredTransfers(file::Filesystem& filesystem, const std::string& transfersFolder,
                                              const std::vector<DestinationHolder>& holders,
                                              std::optional<std::chrono::seconds> olderThan,
                                              std::chrono::system_clock::time_point now);

}  // namespace vrexa::cli
