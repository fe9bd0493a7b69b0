#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

#include "file/Exception.h"
#include "file/OperationContext.h"
#include "file/RecursiveDirectoryIterator.h"
#include "file/SharedFile.h"
#include "file/Volume.h"

namespace vrexa::file {

// The only way the system touches the disk by path. Paths are UTF-8 strings,
// made absolute against the current directory before use.
//
// Error policy of the "wrapped" operations: a failing call's error goes
// through ThrowIfError (so a platform's mapping applies); a file exception
// passes through; any other failure becomes UnknownException. "Safe"
// operations never throw and answer false or 0 instead.
//
// Every operation may be called from any thread; the only shared state is the
// operation context, whose lock serializes the operations that ask for it.
class Filesystem {
public:
    Filesystem();
    virtual ~Filesystem();

    Filesystem(const Filesystem&) = delete;
    Filesystem& operator=(const Filesystem&) = delete;

    // Opens or creates relative under the existing folder base, bounded to
    // [lower, upper]; the file shares this instance's operation context only
    // when synchronized is true. Nothing below base is reached through a link
    // (BadPathException), so a name can never lead outside base.
    virtual std::shared_ptr<SharedFile> OpenSharedFile(const std::string& base, const std::string& relative,
                                                       OpenMode mode, bool synchronized, std::uint64_t lower,
                                                       std::uint64_t upper) = 0;
    // Removes the file, then every folder between it and base that has become
    // empty (never base itself). Failures of the removal propagate, failures
    // while pruning end the pruning silently.
    virtual bool RemoveAndPrune(const std::string& base, const std::string& relative, bool synchronized);
    // The volume holding path; NotFoundException when its root cannot be
    // determined (for example when the path does not exist).
    virtual std::shared_ptr<Volume> GetVolume(const std::string& path) = 0;

    virtual bool Exists(const std::string& path);
    virtual bool SafeExists(const std::string& path);
    // Absolute, without dot components, links resolved; the path must exist.
    virtual std::string Canonical(const std::string& path);
    // Canonical(a) == Canonical(b); false on any failure.
    virtual bool IsSamePath(const std::string& a, const std::string& b);
    virtual std::uint64_t GetFileSize(const std::string& path);
    // 0 for a missing file and on any failure.
    virtual std::uint64_t SafeGetFileSize(const std::string& path);
    // Bytes available to the calling user on the volume holding path.
    virtual std::uint64_t GetAvailableSpace(const std::string& path);
    // "" when it cannot be determined.
    virtual std::string GetDesktopFolder() = 0;
    // "" on any failure.
    virtual std::string GetTempFolder() = 0;
    virtual RecursiveDirectoryIterator IterateRecursive(const std::string& path);
    // Whether the last component of relative, the package's own name, has an
    // executable extension (compared case-sensitively); what a link at that
    // name points to does not count, nor whether the file exists yet.
    virtual bool IsExecutable(const std::string& base, const std::string& relative) = 0;
    // Whether the object (its canonical path) is hidden or a system object.
    virtual bool IsHidden(const std::string& path) = 0;
    // True when the folder holds nothing, or with ignoreHidden, nothing but
    // hidden objects (hidden folders are not looked into).
    virtual bool IsDirectoryEmpty(const std::string& path, bool ignoreHidden);
    virtual bool CreateDirectory(const std::string& base, const std::string& relative);
    // Creates one folder level: true when created, false when it existed.
    virtual bool CreateDirectory(const std::string& path);
    // Creates the folder and its missing parents: true when anything was created.
    virtual bool CreateDirectories(const std::string& path);
    // Exists(path) or else CreateDirectories(path).
    virtual bool EnsureDirectories(const std::string& path);
    virtual bool SafeEnsureDirectories(const std::string& path);
    // Copies a file, folder or link to a new path.
    virtual void Copy(const std::string& from, const std::string& to, bool synchronized);
    virtual void CreateSymlink(const std::string& target, const std::string& link);
    virtual bool Remove(const std::string& base, const std::string& relative, bool recursive, bool synchronized);
    // Not recursive: one file or empty folder, true when removed. Recursive:
    // the whole tree, true when anything was removed.
    virtual bool Remove(const std::string& path, bool recursive, bool synchronized);
    virtual std::shared_ptr<OperationContext> GetOperationContext();
    // Returns on success, otherwise throws the exception the error maps to.
    virtual void ThrowIfError(const boost::system::error_code& error);

    // Joins base and relative: leading "/" of relative are dropped (so
    // "/data/x" lands under base); an absolute remainder stands alone;
    // otherwise it is appended to base made absolute.
    static boost::filesystem::path ResolvePath(const std::string& base, const std::string& relative);
    // A UTF-8 string as a path made absolute against the current directory.
    static boost::filesystem::path ToPath(const std::string& path);
    static std::string ToUtf8(const boost::filesystem::path& path);
    // Whether relative, taken component by component, climbs above the
    // folder it is joined to ("a/../../x" does, "a/../x" does not).
    static bool EscapesBase(const std::string& relative);

protected:
    // Runs operation(error) under the wrapped-operation error policy: the
    // error it reports goes through ThrowIfError; exhausted memory and file
    // exceptions pass through; anything else thrown becomes UnknownException.
    template <typename Operation>
    auto Wrapped(Operation&& operation) -> std::invoke_result_t<Operation&, boost::system::error_code&>;

private:
    std::shared_ptr<OperationContext> context_;
};

template <typename Operation>
auto Filesystem::Wrapped(Operation&& operation) -> std::invoke_result_t<Operation&, boost::system::error_code&> {
    try {
        boost::system::error_code error;
        if constexpr (std::is_void_v<std::invoke_result_t<Operation&, boost::system::error_code&>>) {
            operation(error);
            ThrowIfError(error);
        } else {
            auto result = operation(error);
            ThrowIfError(error);
            return result;
        }
    } catch (const Exception&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const boost::filesystem::filesystem_error& failure) {
        ThrowIfError(failure.code());
        throw UnknownException();
    } catch (...) {
        throw UnknownException();
    }
}

}  // namespace vrexa::file
