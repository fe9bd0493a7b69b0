#pragma once

#include <string>

#include "transfer/JsonTempFileManifestStoreImpl.h"

namespace vrexa {

namespace file {
class Filesystem;
}  // namespace file

// Keeps one manifest per id across processes. Every operation answers false
// on failure and never throws.
template <typename M>
class ManifestStore {
public:
    virtual ~ManifestStore() = default;

    virtual bool Read(const std::string& id, M& manifest) = 0;
    // Only the first write for an id stores anything; later ones answer false.
    virtual bool Write(const std::string& id, M& manifest) = 0;
    virtual bool Remove(const std::string& id) = 0;
};

// A store of one file per id in a folder under the temporary-files folder.
template <typename M>
class TempFileManifestStore : public ManifestStore<M> {};

// The files hold compact one-line JSON. Ids other than transfer ids (32
// lower-case hexadecimal digits) are never looked up, written or removed.
template <typename M>
class JsonTempFileManifestStore : public TempFileManifestStore<M> {
public:
    // folder is relative to the file system's temporary-files folder.
    JsonTempFileManifestStore(std::string folder, file::Filesystem& filesystem)
        : impl_(std::move(folder), filesystem) {}

    bool Read(const std::string& id, M& manifest) override {
        try {
            impl_.Load(id, manifest);
            return true;
        } catch (...) {
            return false;
        }
    }

    bool Write(const std::string& id, M& manifest) override {
        try {
            impl_.Save(id, manifest);
            return true;
        } catch (...) {
            return false;
        }
    }

    // Removes the file, then the folders above it that are left empty, up to
    // the temporary-files folder. False when there was no file.
    bool Remove(const std::string& id) override { return impl_.Remove(id); }

    virtual JsonTempFileManifestStoreImpl& GetImpl() { return impl_; }

private:
    JsonTempFileManifestStoreImpl impl_;
};

}  // namespace vrexa
