#include "file/posix/Errors.h"

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

}  // namespace vrexa::file::posix
