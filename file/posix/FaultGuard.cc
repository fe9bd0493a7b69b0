#include "file/posix/FaultGuard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "file/Exception.h"

namespace vrexa::file::posix {

namespace {

// Enough for every window a transfer holds at once, with a wide margin.
constexpr int kSlots = 4096;
// A slot that keeps changing under the handler is given up on after this
// many reads; the view that faulted is alive, so its own slot is stable.
constexpr int kReadAttempts = 16;

struct Slot {
    std::atomic<bool> taken{false};
    // Even while begin and end are stable, odd while their owner changes
    // them: a reader that sees the same even count before and after reading
    // both has read one range.
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};  // begin == end guards nothing
    std::atomic<bool> faulted{false};
};

Slot slots[kSlots];
std::atomic<int> slotsInUse{0};  // one past the highest slot ever taken
std::uintptr_t pageSize = 4096;
struct sigaction previousAction;
std::once_flag installed;

// Only the slot's owner writes its range, so writers never race each other.
// The bounds are stored with release: a reader that sees either new bound
// also sees the odd count before it, and so reads the slot again.
void Publish(Slot& slot, std::uintptr_t begin, std::uintptr_t end) {
    const std::uint32_t sequence = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(sequence + 1, std::memory_order_relaxed);
    slot.begin.store(begin, std::memory_order_release);
    slot.end.store(end, std::memory_order_release);
    slot.sequence.store(sequence + 2, std::memory_order_release);
}

// Every load acquires, so none moves past the next: the count is read
// before the bounds and again after them.
bool Covers(int index, std::uintptr_t address, void (*midRead)(int)) {
    const Slot& slot = slots[index];
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const std::uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if (before % 2 != 0) {
            continue;
        }
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (midRead != nullptr) {
            midRead(index);
        }
        const std::uintptr_t end = slot.end.load(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_acquire) == before) {
            return address >= begin && address < end;
        }
    }
    return false;
}

void PassOn(int signal, siginfo_t* info, void* context) {
    if (previousAction.sa_flags & SA_SIGINFO) {
        if (previousAction.sa_sigaction) {
            previousAction.sa_sigaction(signal, info, context);
            return;
        }
    } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
        previousAction.sa_handler(signal);
        return;
    }
    // A sent signal has no access to replay: with no handler of the program's
    // own it is dropped. Resetting the disposition for it would leave every
    // later fault unguarded.
    if (info->si_code <= 0) {
        return;
    }
    // Default action: let the access fault again with it, and die as usual.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    // Only the kernel's own reports (si_code > 0) carry a faulting address.
    const int slot = info->si_code > 0 ? FaultGuard::Find(reinterpret_cast<std::uintptr_t>(info->si_addr)) : -1;
    if (slot >= 0) {
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
        if (mmap(page, pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED) {
            slots[slot].faulted.store(true, std::memory_order_release);
            return;
        }
    }
    PassOn(signal, info, context);
}

void Install() {
    pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousAction);
}

}  // namespace

int FaultGuard::Register(void* begin, std::size_t length) {
    std::call_once(installed, Install);
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (!slots[i].taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            continue;
        }
        slots[i].faulted.store(false, std::memory_order_relaxed);
        Publish(slots[i], first, first + length);
        int inUse = slotsInUse.load(std::memory_order_acquire);
        while (inUse < i + 1 && !slotsInUse.compare_exchange_weak(inUse, i + 1, std::memory_order_acq_rel)) {
        }
        return i;
    }
    ThrowBadAllocation();
}

void FaultGuard::Unregister(int slot) {
    if (slot < 0 || slot >= kSlots) {
        return;
    }
    Publish(slots[slot], 0, 0);
    slots[slot].taken.store(false, std::memory_order_release);
}

bool FaultGuard::HasFaulted(int slot) {
    return slot >= 0 && slot < kSlots && slots[slot].faulted.load(std::memory_order_acquire);
}

int FaultGuard::Find(std::uintptr_t address, void (*midRead)(int slot)) {
    const int count = slotsInUse.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        if (Covers(i, address, midRead)) {
            return i;
        }
    }
    return -1;
}

}  // namespace vrexa::file::posix
