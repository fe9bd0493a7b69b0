#pragma once

#include <string>

#include "file/posix/FilesystemImpl.h"

namespace vrexa::shortcut {

// A shortcut file named name_ in folder_ that starts a program.
class SimpleShortcut {
public:
    SimpleShortcut(std::string name, std::string folder) : name_(std::move(name)), folder_(std::move(folder)) {}
    virtual ~SimpleShortcut() = default;
    SimpleShortcut(const SimpleShortcut&) = delete;
    SimpleShortcut& operator=(const SimpleShortcut&) = delete;

    // Writes the shortcut (creating the folder), replacing an existing one.
    virtual bool Create(const std::string& target) = 0;
    // Copies the shortcut into another folder under a new name.
    virtual bool Copy(const std::string& destinationFolder, const std::string& newName) = 0;
    // Removes the shortcut called name from folder.
    virtual bool Remove(const std::string& folder, const std::string& name) = 0;

protected:
    const std::string name_;
    file::posix::FilesystemImpl fileSystem_;
    const std::string folder_;
};

}  // namespace vrexa::shortcut
