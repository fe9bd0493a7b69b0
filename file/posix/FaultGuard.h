#pragma once

#include <cstddef>
#include <cstdint>

namespace vrexa::file::posix {

// Mapped memory can fault (SIGBUS) when the file underneath is truncated or
// its storage fails. Ranges registered here are protected: a fault inside
// one replaces the faulting page with scratch memory, so the access completes
// instead of killing the process, and marks the range as faulted for its
// owner to report. Faults elsewhere go to whatever handled them before; a
// SIGBUS sent by a process rather than raised by an access is no fault and
// changes nothing.
//
// Registration and the fault handler share a fixed table without locks, so
// the handler stays async-signal-safe.
class FaultGuard {
public:
    // Protects [begin, begin + length); returns the slot. Raises
    // std::bad_alloc when every slot is taken.
    static int Register(void* begin, std::size_t length);
    static void Unregister(int slot);
    static bool HasFaulted(int slot);

    // The slot whose range holds address, or -1: what the fault handler
    // blames. A slot changing while it is read is read again, so its old
    // start and new end are never taken for one range. midRead, for tests,
    // runs between the reads of a slot's start and end.
    static int Find(std::uintptr_t address, void (*midRead)(int slot) = nullptr);
};

}  // namespace vrexa::file::posix
