#include "file/posix/Errors.h"

#include <unistd.h>

#include <cerrno>

#include "file/Exception.h"

namespace vrexa::file::posix {

void ThrowIfErrno(int error) {
    switch (error) {
        case 0:
            return;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            throw NotFoundException();
        case EACCES:
        case EPERM:
        case EROFS:
            throw InaccessibleException();
        case ENOTDIR:
        case EINVAL:
        case ENAMETOOLONG:
        case EOPNOTSUPP:
        case ELOOP:
        case EBADF:
            throw BadPathException();
        case EBUSY:
        case EEXIST:
        case ENOTEMPTY:
        case ETXTBSY:
            throw InUseException();
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            throw InsufficientSpaceException();
        case ENOMEM:
            ThrowBadAllocation();
        default:
            throw UnknownException();
    }
}

void ThrowError(int error) {
    ThrowIfErrno(error);
    throw UnknownException();
}

void ThrowLastError() { ThrowError(errno); }

void WriteAt(int descriptor, const void* buffer, std::size_t size, std::uint64_t position) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t done =
            ::pwrite(descriptor, bytes + written, size - written, static_cast<off_t>(position + written));
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowLastError();
        }
        if (done == 0) {
            throw UnknownException();
        }
        written += static_cast<std::size_t>(done);
    }
}

}  // namespace vrexa::file::posix
