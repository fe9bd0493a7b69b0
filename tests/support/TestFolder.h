#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <boost/filesystem/operations.hpp>

namespace vrexa::testsupport {

// A fresh folder under the system temp folder, removed with everything in it.
class TestFolder {
public:
    TestFolder() {
        const auto pattern = boost::filesystem::temp_directory_path() / "vrexa-test-%%%%-%%%%-%%%%";
        path_ = boost::filesystem::unique_path(pattern).string();
        boost::filesystem::create_directories(path_);
    }
    ~TestFolder() {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes a file (creating its folders) and returns its path.
    std::string Put(const std::string& relative, const std::string& content = "x") const {
        const std::string path = *this / relative;
        boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
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
