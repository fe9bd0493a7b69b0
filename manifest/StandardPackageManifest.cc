#include "manifest/StandardPackageManifest.h"

#include "manifest/ManifestReading.h"
#include "manifest/StandardFileManifest.h"

namespace vrexa {

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
    files_.reserve(files.size());
    for (const auto& [key, entry] : files) {
        // Only "file" entries belong here; a comment or an attribute is as wrong
        // as a misspelt element.
        if (key != "file") Reject();
        auto file = std::make_shared<StandardFileManifest>();
        file->Read(entry);
        files_.push_back(std::move(file));
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
    if (id_.empty() || name_.empty() || partnerId_.empty() || versionId_.empty()) Reject();
    if (!run_.empty() && !runFile_) Reject();
    if (version_ && (version_->GetId() != versionId_ || version_->GetRun() != run_)) Reject();
}

bool StandardPackageManifest::IsCountryAllowed(const std::string& countryCode) const {
    return !version_ || version_->IsCountryAllowed(countryCode);
}

}  // namespace vrexa
