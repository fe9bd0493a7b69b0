#include "manifest/StandardPackageManifest.h"

#include <string>
#include <utility>
#include <vector>

#include "manifest/ManifestReading.h"
#include "manifest/StandardFileManifest.h"
#include "manifest/UrlParts.h"

namespace vrexa {
namespace {

void ReadFileEntry(const std::string& key, const boost::property_tree::ptree& entry, PackageManifest::Files& files) {
    // Only "file" entries belong in the list; a comment or an attribute is as
    // wrong as a misspelt element.
    if (key != "file") reading::Reject();
    auto file = std::make_shared<StandardFileManifest>();
    file->Read(entry);
    files.push_back(std::move(file));
}

}  // namespace

const std::vector<std::string>& StandardPackageManifest::EntriesPath() const {
    static const std::vector<std::string> path{"package", "files"};
    return path;
}

void StandardPackageManifest::BeginEntries() {
    streamed_ = true;
    streamedFiles_.clear();
}

void StandardPackageManifest::DropEntries() {
    streamed_ = false;
    streamedFiles_.clear();
}

void StandardPackageManifest::ReadEntry(const std::string& key, const boost::property_tree::ptree& entry) {
    reading::Guarded([&] { ReadFileEntry(key, entry, streamedFiles_); });
}

void StandardPackageManifest::Read(const boost::property_tree::ptree& tree) {
    reading::Guarded([&] {
        ReadFields(reading::RequiredChild(tree, "package"));
        SplitFiles();
        Validate();
    });
}

void StandardPackageManifest::ReadFields(const boost::property_tree::ptree& package) {
    using namespace reading;
    id_ = RequiredText(package, "id");
    name_ = RequiredText(package, "name");
    partnerId_ = RequiredText(package, "partnerId");
    versionId_ = RequiredText(package, "versionId");
    run_ = OptionalText(package, "run");
    const ptree* active = FindChild(package, "isActive");
    active_ = active == nullptr || ReadFlag(active->data());

    version_.reset();
    if (const ptree* version = FindChild(package, "version")) {
        version_ = std::make_unique<PackageVersionManifest>(*version);
    }

    files_.clear();
    const ptree& files = RequiredChild(package, "files");
    if (streamed_) {
        // The entries came while parsing; what the tree still holds of the
        // list (its attributes) is read below as before.
        files_.swap(streamedFiles_);
        streamedFiles_.clear();
        streamed_ = false;
    }
    files_.reserve(files_.size() + files.size());
    for (const auto& [key, entry] : files) {
        ReadFileEntry(key, entry, files_);
    }
}

void StandardPackageManifest::SplitFiles() {
    runFile_.reset();
    runFiles_.clear();
    otherFiles_.clear();
    otherFiles_.reserve(files_.size());
    // File paths are never empty, so an empty run matches no file.
    for (const auto& file : files_) {
        if (file->GetPath() == run_) {
            runFile_ = file;
            runFiles_.push_back(file);
        } else {
            otherFiles_.push_back(file);
        }
    }
}

void StandardPackageManifest::Validate() const {
    using reading::Reject;
    if (name_.empty()) Reject();
    // The ids name the node list and the package's folder on every node: each
    // must stand for one path segment of those URLs.
    if (!IsPlainSegment(id_) || !IsPlainSegment(partnerId_) || !IsPlainSegment(versionId_)) Reject();
    if (!run_.empty() && !runFile_) Reject();
    if (version_ && (version_->GetId() != versionId_ || version_->GetRun() != run_)) Reject();
}

bool StandardPackageManifest::IsCountryAllowed(const std::string& countryCode) const {
    return !version_ || version_->IsCountryAllowed(countryCode);
}

}  // namespace vrexa
