#pragma once

#include <stdexcept>
#include <string>

namespace vrexa::file::posix {

// The folder that holds what one user's program keeps between runs (stored
// transfers with their destinations, logs with node hosts, locks) is that
// user's alone: another local user who could create it first, plant files in
// it or point it elsewhere through a link would steer later runs.
class PrivateFolderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The user's home: $HOME when it is an absolute path, else the home the
// password database gives the effective user; "" when there is neither.
std::string UserHome();

// Makes sure base/relative is a folder of this user's alone and returns its
// path. base (the user's cache folder, which the user may have made a link)
// is created when missing; every folder of `relative` below it is created with
// mode 0700, must be a real folder (a link is refused, never followed) owned
// by the effective user, and loses any access it gave others. Throws
// PrivateFolderError with a sentence naming the folder and what is wrong.
std::string EnsurePrivateFolder(const std::string& base, const std::string& relative);

// Gives a file the owner's read and write only, on the file itself (a link at
// path is not followed). False when it cannot be opened or changed.
bool MakeFilePrivate(const std::string& path);

}  // namespace vrexa::file::posix
