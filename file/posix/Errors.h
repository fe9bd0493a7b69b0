#pragma once

#include <cstddef>
#include <cstdint>

namespace vrexa::file::posix {

// The platform's error numbers mapped to the file exceptions: returns for 0,
// otherwise throws the mapped exception (std::bad_alloc for ENOMEM,
// UnknownException for a number the table does not name).
void ThrowIfErrno(int error);

// For a failed system call: throws what errno maps to, or UnknownException
// should errno say success.
[[noreturn]] void ThrowLastError();
[[noreturn]] void ThrowError(int error);

// Writes all size bytes at position, taking interrupted and partial writes
// as they come; a failure raises the exception its errno maps to.
void WriteAt(int descriptor, const void* buffer, std::size_t size, std::uint64_t position);

}  // namespace vrexa::file::posix
