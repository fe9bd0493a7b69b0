#include "updater/posix/FileRegistry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "file/posix/UniqueDescriptor.h"
#include "text/Utf8.h"
#include "updater/StringTable.h"
#include "vrexa/UpdaterDeployment.h"

namespace vrexa::updater::posix {

namespace {

// The components of a key path with its value name last; empty when any
// component is empty, "." or "..".
std::vector<std::string> SplitValuePath(const std::string& path) {
    std::vector<std::string> components;
    std::string current;
    for (const char c : path + "\\") {
        if (c != '\\' && c != '/') {
            current += c;
            continue;
        }
        if (current.empty() || current == "." || current == "..") return {};
        components.push_back(std::move(current));
        current.clear();
    }
    return components;
}

}  // namespace

FileRegistry::FileRegistry(std::string root) : root_(std::move(root)) {}

std::string FileRegistry::RootFor(const Environment& overrides) {
    if (const auto root = overrides(kRegistryRootVariable)) return *root;
    return deployment::kRegistryRoot;
}

std::string FileRegistry::ReadString(const std::string& path) {
    if (root_.empty() || path.find('\0') != std::string::npos) return "";
    const std::vector<std::string> components = SplitValuePath(path);
    if (components.empty()) return "";
    std::string file = root_;
    for (const auto& component : components)
        file += "/" + component;

    // Non-blocking, so that a FIFO planted in the tree cannot stall the
    // updater before it has even shown its window.
    file::posix::UniqueDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0) return "";
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return "";

    // The type line and the largest value that can fit the buffer, plus one
    // byte to see that a file is longer.
    const std::size_t cap = kValueBufferBytes + 64;
    std::string content;
    char buffer[4096];
    while (content.size() <= cap) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) return "";
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }

    if (content.size() > cap) return "";
    const std::size_t newline = content.find('\n');
    if (newline == std::string::npos || content.compare(0, newline, "REG_SZ") != 0) return "";
    std::string text = content.substr(newline + 1);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    // A string value ends at its first NUL, as the platform's strings do.
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    if (!IsUtf8(text)) return "";
    if ((Utf16Length(text) + 1) * 2 > kValueBufferBytes) return "";
    return text;
}

}  // namespace vrexa::updater::posix
