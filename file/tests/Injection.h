#pragma once

#include <atomic>
#include <cstddef>

// Failures injected into this test program's calls of the C library and of
// operator new, to reach the paths a real machine seldom takes.
namespace vrexa::file::testing {

// fallocate: the next `failures` calls fail with `error` (the rest reach the
// real call); `calls` counts every call.
struct FallocateInjection {
    std::atomic<int> error{0};
    std::atomic<int> failures{0};
    std::atomic<int> calls{0};

    void Reset() {
        error = 0;
        failures = 0;
        calls = 0;
    }
};
extern FallocateInjection fallocateInjection;

// The kernel's call that resolves a whole path beneath a folder: while
// `missing` is set it fails with ENOSYS, as on a kernel that predates it;
// `calls` counts every attempt.
struct Openat2Injection {
    std::atomic<bool> missing{false};
    std::atomic<int> calls{0};

    void Reset() {
        missing = false;
        calls = 0;
    }
};
extern Openat2Injection openat2Injection;

// fsync: while `error` is not 0, every call fails with it.
struct FsyncInjection {
    std::atomic<int> error{0};
};
extern FsyncInjection fsyncInjection;

// operator new: once armed with n, the allocation after n more succeed throws
// std::bad_alloc, once; Disarm says whether it was thrown.
void ArmAllocationFailure(long n);
bool DisarmAllocationFailure();

}  // namespace vrexa::file::testing
