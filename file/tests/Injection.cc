#include "file/tests/Injection.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/types.h>

#include <cstdarg>

#include <cerrno>
#include <cstdlib>
#include <new>

// Deliberately without <fcntl.h>: its declarations may rename fallocate; and
// without <unistd.h>, whose declaration of syscall this file replaces.

namespace vrexa::file::testing {

FallocateInjection fallocateInjection;
Openat2Injection openat2Injection;
FsyncInjection fsyncInjection;

namespace {

using Fallocate = int (*)(int, int, off_t, off_t);

int Intercept(const char* name, int descriptor, int mode, off_t offset, off_t length) {
    fallocateInjection.calls.fetch_add(1);
    int left = fallocateInjection.failures.load();
    while (left > 0 && !fallocateInjection.failures.compare_exchange_weak(left, left - 1)) {
    }
    if (left > 0) {
        errno = fallocateInjection.error.load();
        return -1;
    }
    static const auto real = reinterpret_cast<Fallocate>(::dlsym(RTLD_NEXT, name));
    if (real == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return real(descriptor, mode, offset, length);
}

std::atomic<long> allocationsLeft{-1};  // -1: disarmed
std::atomic<bool> allocationFailed{false};

}  // namespace

void ArmAllocationFailure(long n) {
    allocationFailed = false;
    allocationsLeft = n;
}

bool DisarmAllocationFailure() {
    allocationsLeft = -1;
    return allocationFailed.exchange(false);
}

}  // namespace vrexa::file::testing

extern "C" int fallocate(int descriptor, int mode, off_t offset, off_t length) {
    return vrexa::file::testing::Intercept("fallocate", descriptor, mode, offset, length);
}

extern "C" int fsync(int descriptor) {
    if (const int error = vrexa::file::testing::fsyncInjection.error.load()) {
        errno = error;
        return -1;
    }
    using Fsync = int (*)(int);
    static const auto real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    if (real == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return real(descriptor);
}

extern "C" int fallocate64(int descriptor, int mode, off_t offset, off_t length) {
    return vrexa::file::testing::Intercept("fallocate64", descriptor, mode, offset, length);
}

// Every system call made through the library's syscall passes here; all but
// an injected one reach the real function with the six argument registers.
// Like the library's own, it passes on six arguments whatever the call has:
// those past the caller's last come from its stack and are never used by the
// kernel, but the address checker would take that read for an overflow.
extern "C" __attribute__((no_sanitize("address"))) long syscall(long number, ...) {
    using namespace vrexa::file::testing;
    if (number == SYS_openat2) {
        openat2Injection.calls.fetch_add(1);
        if (openat2Injection.missing.load()) {
            errno = ENOSYS;
            return -1;
        }
    }
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long& argument : a) {
        argument = va_arg(arguments, long);
    }
    va_end(arguments);
    using Syscall = long (*)(long, ...);
    static const auto real = reinterpret_cast<Syscall>(::dlsym(RTLD_NEXT, "syscall"));
    if (real == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

void* operator new(std::size_t size) {
    using namespace vrexa::file::testing;
    long left = allocationsLeft.load();
    while (left >= 0 && !allocationsLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) {
        allocationFailed = true;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

// Every form, so that no allocation made here is released by another
// runtime's operator delete (which a sanitizer would call a mismatch).
void* operator new[](std::size_t size) { return ::operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return ::operator new(size, std::nothrow); }

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
