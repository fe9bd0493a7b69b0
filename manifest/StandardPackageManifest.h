#pragma once

#include <memory>

#include "manifest/PackageManifest.h"
#include "manifest/PackageVersionManifest.h"

namespace vrexa {

// The package manifest document: a "package" element with "id", "name",
// "partnerId", "versionId", optional "run", "isActive" and "version", and the
// "files" list.
//
// Sources that can hand over the "file" entries one at a time while they
// parse do so; the files are then the same, in the same order, as when read
// from the whole tree.
class StandardPackageManifest : public PackageManifest, private StreamedEntries {
public:
    void Read(const boost::property_tree::ptree& tree) override;
    StreamedEntries* GetStreamedEntries() override { return this; }

    const std::string& GetId() const override { return id_; }
    const std::string& GetName() const override { return name_; }
    const std::string& GetPartnerId() const override { return partnerId_; }
    const std::string& GetVersionId() const override { return versionId_; }
    bool IsActive() const override { return active_; }
    const Files& GetFiles() const override { return files_; }
    const Files& GetRunFiles() const override { return runFiles_; }
    const Files& GetOtherFiles() const override { return otherFiles_; }
    const std::string& GetRun() const override { return run_; }
    std::shared_ptr<FileManifest> GetRunFile() const override { return runFile_; }
    bool IsCountryAllowed(const std::string& countryCode) const override;

    // The version block, or null when the document has none.
    const PackageVersionManifest* GetVersion() const { return version_.get(); }

private:
    const std::vector<std::string>& EntriesPath() const override;
    void BeginEntries() override;
    void DropEntries() override;
    void ReadEntry(const std::string& key, const boost::property_tree::ptree& entry) override;

    void ReadFields(const boost::property_tree::ptree& package);
    void SplitFiles();
    void Validate() const;

    std::string id_;
    std::string name_;
    std::string partnerId_;
    std::string versionId_;
    std::string run_;
    bool active_ = true;
    Files files_;
    std::shared_ptr<FileManifest> runFile_;
    Files runFiles_;
    Files otherFiles_;
    std::unique_ptr<PackageVersionManifest> version_;
    // Files read while the document was parsed, taken by the next Read.
    bool streamed_ = false;
    Files streamedFiles_;
};

}  // namespace vrexa
