#pragma once

#include <cstddef>
#include <iterator>
#include <string>

#include <boost/filesystem/operations.hpp>

namespace vrexa::file {

// Walks every entry below a folder, descending into folders. Advancing raises
// InaccessibleException on any error. A default-constructed iterator is the
// end; the iterator is also a range (for (auto& entry : iterator)).
class RecursiveDirectoryIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = boost::filesystem::directory_entry;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;

    RecursiveDirectoryIterator() = default;
    explicit RecursiveDirectoryIterator(boost::filesystem::recursive_directory_iterator iterator);

    reference operator*() const { return *iterator_; }
    pointer operator->() const { return &*iterator_; }
    RecursiveDirectoryIterator& operator++();
    bool operator==(const RecursiveDirectoryIterator& other) const { return iterator_ == other.iterator_; }
    bool operator!=(const RecursiveDirectoryIterator& other) const { return iterator_ != other.iterator_; }

    bool AtEnd() const { return iterator_ == boost::filesystem::recursive_directory_iterator(); }
    // The current entry's path, UTF-8.
    std::string Path() const;
    // How deep the current entry is below the walked folder (0 for its children).
    int Depth() const { return iterator_.depth(); }
    // Do not descend into the current entry when advancing.
    void DisableRecursionPending() { iterator_.disable_recursion_pending(); }

    RecursiveDirectoryIterator begin() const { return *this; }
    RecursiveDirectoryIterator end() const { return {}; }

private:
    boost::filesystem::recursive_directory_iterator iterator_;
};

}  // namespace vrexa::file
