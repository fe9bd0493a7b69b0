#pragma once

namespace vrexa::file::posix {

// The platform's error numbers mapped to the file exceptions: returns for 0,
// otherwise throws the mapped exception (std::bad_alloc for ENOMEM,
// UnknownException for a number the table does not name).
void ThrowIfErrno(int error);

// For a failed system call: throws what errno maps to, or UnknownException
// should errno say success.
[[noreturn]] void ThrowLastError();
[[noreturn]] void ThrowError(int error);

}  // namespace vrexa::file::posix
