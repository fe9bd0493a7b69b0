#pragma once

#include <exception>
#include <new>

namespace vrexa::file {

// The file layer reports trouble by kind only: the class is the whole
// information, so callers branch on type (not found, in use, no space, ...)
// and never parse text. what() names the class for logs.
class Exception : public std::exception {
public:
    const char* what() const noexcept override;
};

class NotFoundException : public Exception {
public:
    const char* what() const noexcept override;
};

class BadPathException : public Exception {
public:
    const char* what() const noexcept override;
};

class InUseException : public Exception {
public:
    const char* what() const noexcept override;
};

class InsufficientSpaceException : public Exception {
public:
    const char* what() const noexcept override;
};

class InaccessibleException : public Exception {
public:
    const char* what() const noexcept override;
};

class UnknownException : public Exception {
public:
    const char* what() const noexcept override;
};

class OutOfBoundsException : public Exception {
public:
    const char* what() const noexcept override;
};

class InvalidMapException : public Exception {
public:
    const char* what() const noexcept override;
};

// Exhausted memory (and ranges too large to hold in memory at once) is a
// std::bad_alloc whose text is "bad allocation", never a file exception.
class BadAllocation : public std::bad_alloc {
public:
    const char* what() const noexcept override;
};

[[noreturn]] void ThrowBadAllocation();

}  // namespace vrexa::file
