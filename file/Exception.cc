#include "file/Exception.h"

namespace vrexa::file {

const char* Exception::what() const noexcept { return "vrexa::file::Exception"; }
const char* NotFoundException::what() const noexcept { return "vrexa::file::NotFoundException"; }
const char* BadPathException::what() const noexcept { return "vrexa::file::BadPathException"; }
const char* InUseException::what() const noexcept { return "vrexa::file::InUseException"; }
const char* InsufficientSpaceException::what() const noexcept { return "vrexa::file::InsufficientSpaceException"; }
const char* InaccessibleException::what() const noexcept { return "vrexa::file::InaccessibleException"; }
const char* UnknownException::what() const noexcept { return "vrexa::file::UnknownException"; }
const char* OutOfBoundsException::what() const noexcept { return "vrexa::file::OutOfBoundsException"; }
const char* InvalidMapException::what() const noexcept { return "vrexa::file::InvalidMapException"; }

const char* BadAllocation::what() const noexcept { return "bad allocation"; }

void ThrowBadAllocation() { throw BadAllocation(); }

}  // namespace vrexa::file
