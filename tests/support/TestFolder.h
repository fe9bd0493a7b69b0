#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vrexa::testsupport {

// A fresh folder of the test's own under the system's temporary folder,
// removed with everything in it. It is made by mkdtemp, so no other process
// can have put anything there first, and it is private (0700). Its path is
// canonical, so it compares equal to what the code under test resolves.
class TestFolder {
public:
    TestFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vrexa-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("TestFolder: mkdtemp failed in " + pattern);
        }
        path_ = std::filesystem::canonical(pattern).string();
    }
    ~TestFolder() {
        std::error_code ignored;
        // Tests take access away from files and folders; the owner gets it
        // back first (each folder before it is entered), so that everything
        // can be removed.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (!it->is_symlink(ignored)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes a file (creating its folders) and returns its path.
    std::string Put(const std::string& relative, const std::string& content = "x") const {
        const std::string path = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return path;
    }

    static std::string Content(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
};

}  // namespace vrexa::testsupport
