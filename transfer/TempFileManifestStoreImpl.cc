#include "transfer/TempFileManifestStoreImpl.h"

#include <cstdint>
#include <iterator>
#include <limits>
#include <utility>

#include <boost/filesystem/operations.hpp>

#include "file/Exception.h"
#include "file/Filesystem.h"
#include "file/SharedFile.h"
#include "file/posix/PrivateFolder.h"
#include "manifest/DocumentLimits.h"
#include "manifest/ManifestException.h"
#include "transfer/TransferId.h"

namespace vrexa {

namespace {

constexpr std::uint64_t kWholeFile = std::numeric_limits<std::uint64_t>::max();

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// A name no other writer uses, beside the final one and hidden.
std::string TemporaryName(const std::string& name) {
    return "." + name + "." + boost::filesystem::unique_path("%%%%%%%%%%%%").string() + ".tmp";
}

}  // namespace

TempFileManifestStoreImpl::TempFileManifestStoreImpl(std::string folder, file::Filesystem& filesystem)
    : folder_(std::move(folder)), filesystem_(filesystem) {}

std::string TempFileManifestStoreImpl::TempFolder() {
    std::string temp = filesystem_.GetTempFolder();
    if (temp.empty()) {
        throw ManifestLocatorException();
    }
    return temp;
}

std::string TempFileManifestStoreImpl::RelativePath(const std::string& id) {
    if (!IsTransferId(id)) {
        throw ManifestLocatorException();
    }
    return Join(folder_, FileName(id));
}

void TempFileManifestStoreImpl::Fetch(const std::string& id, std::iostream& stream) {
    const std::string relative = RelativePath(id);
    const std::string temp = TempFolder();
    try {
        const auto file =
            filesystem_.OpenSharedFile(temp, relative, file::OpenMode::OpenExisting, false, 0, kWholeFile);
        if (file->GetSize() > kStoredTransferLimits.maxBytes) {
            throw ManifestStreamException();
        }
        char block[file::BoundedData::kReadPiece];
        for (std::size_t read; (read = file->Read(block, sizeof block)) > 0;) {
            if (!stream.write(block, static_cast<std::streamsize>(read))) {
                throw ManifestStreamException();
            }
        }
    } catch (const ManifestStreamException&) {
        throw;
    } catch (...) {
        throw ManifestStreamException();
    }
}

void TempFileManifestStoreImpl::WriteNewFile(const std::string& base, const std::string& relative,
                                             const std::string& content) {
    const auto file = filesystem_.OpenSharedFile(base, relative, file::OpenMode::CreateNew, false, 0, kWholeFile);
    for (std::size_t written = 0; written < content.size();) {
        const std::size_t now = file->Write(content.data() + written, content.size() - written);
        if (now == 0) {
            throw ManifestStreamException();
        }
        written += now;
    }
    file->Flush();
}

void TempFileManifestStoreImpl::Store(std::iostream& stream, const std::string& id) {
    const std::string relative = RelativePath(id);
    const std::string temp = TempFolder();
    const std::string content(std::istreambuf_iterator<char>(stream), {});
    if (stream.bad() || content.size() > kStoredTransferLimits.maxBytes) {
        throw ManifestStreamException();
    }
    const std::string temporary = Join(folder_, TemporaryName(FileName(id)));
    const auto finalPath = file::Filesystem::ResolvePath(temp, relative);
    const auto temporaryPath = file::Filesystem::ResolvePath(temp, temporary);
    boost::system::error_code linkError;
    try {
        // Also creates the folders on the way.
        WriteNewFile(temp, temporary, content);
        // An entry names a destination: for its owner's eyes only, from
        // the moment it has its final name.
        file::posix::MakeFilePrivate(temporaryPath.string());
        boost::filesystem::create_hard_link(temporaryPath, finalPath, linkError);
    } catch (...) {
        linkError = make_error_code(boost::system::errc::io_error);
    }
    boost::system::error_code ignored;
    boost::filesystem::remove(temporaryPath, ignored);
    if (!linkError) {
        return;
    }
    if (linkError == boost::system::errc::file_exists || (linkError != boost::system::errc::operation_not_permitted &&
                                                          linkError != boost::system::errc::operation_not_supported)) {
        throw ManifestStreamException();
    }
    // A file system without hard links: create the file in place, still only
    // when it does not exist yet, and take back a file left half-written.
    try {
        WriteNewFile(temp, relative, content);
        file::posix::MakeFilePrivate(finalPath.string());
    } catch (const file::InUseException&) {
        throw ManifestStreamException();
    } catch (...) {
        boost::filesystem::remove(finalPath, ignored);
        throw ManifestStreamException();
    }
}

bool TempFileManifestStoreImpl::Remove(const std::string& id) {
    try {
        return filesystem_.RemoveAndPrune(TempFolder(), RelativePath(id), false);
    } catch (...) {
        return false;
    }
}

}  // namespace vrexa
