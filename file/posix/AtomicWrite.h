#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

namespace vrexa::file::posix {

// Writes all size bytes at the descriptor's position, through interrupted and
// partial writes: nothing, or the error of the write that failed.
std::error_code WriteAll(int descriptor, const void* data, std::size_t size);

// Flushes the entries of folder (a file just renamed or created in it) to
// the disk, so that they survive a power cut too. Best effort: it runs after
// the change it makes durable, which has happened either way.
void SyncFolder(const std::string& folder);

// Who may read a file WriteFileAtomically writes, whatever the umask says.
enum class FileAccess {
    Shared,   // 0644: others read it (a desktop entry, generated sources)
    Private,  // 0600: the user's own state
};

// Replaces the file at path with content in one step that others can rely
// on: the bytes go to a new file beside it (same folder, so the rename stays
// within one file system), which is synced and closed, then renamed onto
// path, then the folder is synced. A reader, or a crash at any moment, finds
// the old file whole or the new one whole: never a mix, never a short file.
// A link at path is replaced, not followed. On failure the file at path is as
// it was, no temporary file is left behind, and the error of the step that
// failed is returned.
std::error_code WriteFileAtomically(const std::string& path, std::string_view content,
                                    FileAccess access = FileAccess::Shared);

}  // namespace vrexa::file::posix
