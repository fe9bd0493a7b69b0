#include "file/Filesystem.h"

#include <mutex>
#include <new>
#include <optional>

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

namespace vrexa::file {

namespace fs = boost::filesystem;

namespace {

// relative without its leading "/", which never make it absolute.
std::string StripLeadingSlashes(const std::string& relative) {
    const auto first = relative.find_first_not_of('/');
    return first == std::string::npos ? std::string() : relative.substr(first);
}

}  // namespace

Filesystem::Filesystem() : context_(std::make_shared<OperationContext>()) {}

Filesystem::~Filesystem() = default;

fs::path Filesystem::ToPath(const std::string& path) {
    // Narrow paths are UTF-8 byte strings on this platform already.
    return fs::absolute(fs::path(path));
}

std::string Filesystem::ToUtf8(const fs::path& path) { return path.string(); }

fs::path Filesystem::ResolvePath(const std::string& base, const std::string& relative) {
    const fs::path rest(StripLeadingSlashes(relative));
    if (rest.has_root_name() && rest.has_root_directory()) {
        return rest;
    }
    if (rest.empty()) {
        return ToPath(base);
    }
    return ToPath(base) / rest;
}

bool Filesystem::EscapesBase(const std::string& relative) {
    int depth = 0;
    for (const auto& part : fs::path(StripLeadingSlashes(relative))) {
        if (part == "..") {
            if (--depth < 0) {
                return true;
            }
        } else if (part != "." && !part.empty()) {
            ++depth;
        }
    }
    return false;
}

bool Filesystem::RemoveAndPrune(const std::string& base, const std::string& relative, bool synchronized) {
    // Relative paths here come from downloaded manifests: never remove
    // anything outside base on their word.
    if (EscapesBase(relative)) {
        throw BadPathException();
    }
    const bool removed = Remove(base, relative, false, synchronized);
    try {
        const fs::path baseFolder = ToPath(base).lexically_normal();
        fs::path parent = fs::path(StripLeadingSlashes(relative)).parent_path();
        while (!parent.empty()) {
            const fs::path folder = ResolvePath(base, parent.string());
            // Whatever the relative path spells ("..", "."), the base and
            // anything outside it are never pruned.
            const fs::path inside = folder.lexically_normal().lexically_relative(baseFolder);
            if (inside.empty() || *inside.begin() == ".." || *inside.begin() == ".") {
                break;
            }
            const std::string name = ToUtf8(folder);
            if (!IsDirectoryEmpty(name, false) || !Remove(name, false, synchronized)) {
                break;
            }
            parent = parent.parent_path();
        }
    } catch (...) {
        // Pruning is tidying only; the file itself is gone.
    }
    return removed;
}

bool Filesystem::Exists(const std::string& path) {
    return Wrapped([&](boost::system::error_code& error) {
        const fs::file_status status = fs::status(ToPath(path), error);
        if (status.type() == fs::file_not_found) {
            // Reported with an error code, but a missing object is an answer.
            error.clear();
            return false;
        }
        return fs::exists(status);
    });
}

bool Filesystem::SafeExists(const std::string& path) {
    try {
        return Exists(path);
    } catch (...) {
        return false;
    }
}

std::string Filesystem::Canonical(const std::string& path) {
    return Wrapped([&](boost::system::error_code& error) { return ToUtf8(fs::canonical(ToPath(path), error)); });
}

bool Filesystem::IsSamePath(const std::string& a, const std::string& b) {
    try {
        return Canonical(a) == Canonical(b);
    } catch (...) {
        return false;
    }
}

std::uint64_t Filesystem::GetFileSize(const std::string& path) {
    return Wrapped(
        [&](boost::system::error_code& error) -> std::uint64_t { return fs::file_size(ToPath(path), error); });
}

std::uint64_t Filesystem::SafeGetFileSize(const std::string& path) {
    try {
        return Exists(path) ? GetFileSize(path) : 0;
    } catch (...) {
        return 0;
    }
}

std::uint64_t Filesystem::GetAvailableSpace(const std::string& path) {
    return Wrapped(
        [&](boost::system::error_code& error) -> std::uint64_t { return fs::space(ToPath(path), error).available; });
}

RecursiveDirectoryIterator Filesystem::IterateRecursive(const std::string& path) {
    return Wrapped([&](boost::system::error_code& error) {
        return RecursiveDirectoryIterator(fs::recursive_directory_iterator(ToPath(path), error));
    });
}

bool Filesystem::IsDirectoryEmpty(const std::string& path, bool ignoreHidden) {
    for (auto entry = IterateRecursive(path); !entry.AtEnd(); ++entry) {
        if (!ignoreHidden || !IsHidden(entry.Path())) {
            return false;
        }
        entry.DisableRecursionPending();
    }
    return true;
}

bool Filesystem::CreateDirectory(const std::string& base, const std::string& relative) {
    return CreateDirectory(ToUtf8(ResolvePath(base, relative)));
}

bool Filesystem::CreateDirectory(const std::string& path) {
    return Wrapped([&](boost::system::error_code& error) { return fs::create_directory(ToPath(path), error); });
}

bool Filesystem::CreateDirectories(const std::string& path) {
    return Wrapped([&](boost::system::error_code& error) { return fs::create_directories(ToPath(path), error); });
}

bool Filesystem::EnsureDirectories(const std::string& path) { return Exists(path) || CreateDirectories(path); }

bool Filesystem::SafeEnsureDirectories(const std::string& path) {
    try {
        return EnsureDirectories(path);
    } catch (...) {
        return false;
    }
}

void Filesystem::Copy(const std::string& from, const std::string& to, bool synchronized) {
    const auto lock = LockOperations(synchronized ? context_ : nullptr);
    Wrapped([&](boost::system::error_code& error) {
        fs::copy(ToPath(from), ToPath(to), fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    });
}

void Filesystem::CreateSymlink(const std::string& target, const std::string& link) {
    // The target is stored as given: a relative target stays relative to the link.
    Wrapped([&](boost::system::error_code& error) { fs::create_symlink(fs::path(target), ToPath(link), error); });
}

bool Filesystem::Remove(const std::string& base, const std::string& relative, bool recursive, bool synchronized) {
    return Remove(ToUtf8(ResolvePath(base, relative)), recursive, synchronized);
}

bool Filesystem::Remove(const std::string& path, bool recursive, bool synchronized) {
    const auto lock = LockOperations(synchronized ? context_ : nullptr);
    return Wrapped([&](boost::system::error_code& error) {
        if (recursive) {
            return fs::remove_all(ToPath(path), error) != 0;
        }
        return fs::remove(ToPath(path), error);
    });
}

std::shared_ptr<OperationContext> Filesystem::GetOperationContext() { return context_; }

void Filesystem::ThrowIfError(const boost::system::error_code& error) {
    if (!error) {
        return;
    }
    namespace errc = boost::system::errc;
    const auto condition = error.default_error_condition();
    if (condition.category() != boost::system::generic_category()) {
        throw UnknownException();
    }
    switch (condition.value()) {
        case errc::operation_not_permitted:
        case errc::permission_denied:
        case errc::read_only_file_system:
            throw InaccessibleException();
        case errc::no_such_file_or_directory:
        case errc::no_such_device_or_address:
        case errc::no_such_device:
            throw NotFoundException();
        case errc::not_a_directory:
        case errc::invalid_argument:
        case errc::filename_too_long:
        case errc::operation_not_supported:
            throw BadPathException();
        case errc::device_or_resource_busy:
        case errc::file_exists:
        case errc::directory_not_empty:
        case errc::text_file_busy:
            throw InUseException();
        case errc::file_too_large:
        case errc::no_space_on_device:
            throw InsufficientSpaceException();
        case errc::not_enough_memory:
            ThrowBadAllocation();
        default:
            throw UnknownException();
    }
}

}  // namespace vrexa::file
