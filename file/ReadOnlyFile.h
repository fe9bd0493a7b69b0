#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vrexa::file {

// A regular file beneath a folder, opened for reading only: old content an
// update may take bytes from. Nothing below the folder is reached through a
// symbolic link, and only a regular file is ever opened, so a link, a device
// or a pipe placed among old files can neither leak bytes from elsewhere nor
// block the reader.
class ReadOnlyFile {
public:
    // nullptr when relative is missing, is a link (at any component), or is
    // not a regular file. Other failures raise the file exceptions.
    static std::unique_ptr<ReadOnlyFile> OpenBeneath(const std::string& folder, const std::string& relative);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // The size when the file was opened.
    std::uint64_t GetSize() const { return size_; }
    // Reads exactly size bytes at offset: false when the file ends first.
    // Read errors raise the file exceptions.
    bool ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const;

    // [offset, offset + length) of the file mapped for one pass of reading.
    // Should the file shrink under it, the access does not kill the process:
    // the missing pages read as scratch memory and Faulted() says so, so that
    // the caller throws away what it found there.
    class View {
    public:
        ~View();
        View(const View&) = delete;
        View& operator=(const View&) = delete;
        const std::uint8_t* Data() const { return data_; }
        bool Faulted() const;

    private:
        friend class ReadOnlyFile;
        View() = default;
        void* mapping_ = nullptr;
        std::size_t mappedLength_ = 0;
        const std::uint8_t* data_ = nullptr;
        int guardSlot_ = -1;
    };
    std::unique_ptr<View> Map(std::uint64_t offset, std::size_t length) const;

private:
    ReadOnlyFile(int descriptor, std::uint64_t size) : descriptor_(descriptor), size_(size) {}
    int descriptor_;
    std::uint64_t size_;
};

// The regular files beneath folder, as paths relative to it ("a/b.bin"),
// found without following a link: a link to a folder is not entered and a
// link to a file is not listed. At most `limit` files and `depth` folder
// levels; what lies beyond is left out. NotFoundException when folder is
// missing.
std::vector<std::string> ListRegularFilesBeneath(const std::string& folder, std::size_t limit = 4'000'000,
                                                 int depth = 64);

// Renames the file from to to, both beneath folder, creating the folders of
// to; neither path goes through a link. Within one file system the rename is
// atomic: a crash leaves the file under one name or the other.
void MoveBeneath(const std::string& folder, const std::string& from, const std::string& to);

}  // namespace vrexa::file
