#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "file/posix/UniqueDescriptor.h"

namespace vrexa::file::posix {

// Opening paths that a downloaded manifest names, below a folder the user
// chose. The folder itself is the user's: a link there is followed. Below it
// nothing is: a link at any component, folder or file, is refused with
// BadPathException, so no name from a manifest can reach, write, delete or
// re-permission anything outside the folder, nor a file someone linked in.

// The components of relative, read lexically: leading and repeated "/" and
// "." components are dropped, ".." takes back the component before it. Since
// no link is ever followed below the folder, this reading is also what the
// disk resolves. BadPathException when the path climbs above the folder or
// names the folder itself.
std::vector<std::string> SplitBeneath(const std::string& relative);

// Opens the folder at path (a link there is followed) for use as the start of
// OpenBeneath; NotFoundException when it is missing.
UniqueDescriptor OpenFolder(const std::string& path);

// Opens components below folder with open(2) flags (O_CLOEXEC and O_NOFOLLOW
// are always added) and, where the flags create, mode. With createFolders the
// missing folders on the way are made (mode 0755 before the umask). Errors
// are the file exceptions of errno; a link anywhere is BadPathException.
//
// Resolved by the kernel in one call where it can keep a path beneath a folder
// and free of links, else one component at a time.
UniqueDescriptor OpenBeneath(int folder, const std::vector<std::string>& components, int flags, mode_t mode,
                             bool createFolders);

// Whether this kernel resolves a path beneath a folder without links in one
// call; when it does not, OpenBeneath walks the components itself.
bool KernelResolvesBeneath();

}  // namespace vrexa::file::posix
