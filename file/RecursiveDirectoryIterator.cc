#include "file/RecursiveDirectoryIterator.h"

#include <utility>

#include "file/Exception.h"

namespace vrexa::file {

RecursiveDirectoryIterator::RecursiveDirectoryIterator(boost::filesystem::recursive_directory_iterator iterator)
    : iterator_(std::move(iterator)) {}

RecursiveDirectoryIterator& RecursiveDirectoryIterator::operator++() {
    boost::system::error_code error;
    iterator_.increment(error);
    if (error) {
        throw InaccessibleException();
    }
    return *this;
}

std::string RecursiveDirectoryIterator::Path() const { return iterator_->path().string(); }

}  // namespace vrexa::file
