#include "file/posix/FaultGuard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "file/Exception.h"

namespace vrexa::file::posix {

namespace {

// Enough for every window a transfer holds at once, with a wide margin.
constexpr int kSlots = 4096;
// A slot being filled or emptied: no address is at or above it.
constexpr std::uintptr_t kBusy = UINTPTR_MAX;

struct Slot {
    std::atomic<std::uintptr_t> begin{0};  // 0: free
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> faulted{false};
};

Slot slots[kSlots];
std::atomic<int> slotsInUse{0};  // one past the highest slot ever taken
std::uintptr_t pageSize = 4096;
struct sigaction previousAction;
std::once_flag installed;

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
    // Default action: let the access fault again with it, and die as usual.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const int count = slotsInUse.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        Slot& slot = slots[i];
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin == 0 || begin == kBusy || address < begin || address >= slot.end.load(std::memory_order_acquire)) {
            continue;
        }
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
        if (mmap(page, pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
            MAP_FAILED) {
            break;
        }
        slot.faulted.store(true, std::memory_order_release);
        return;
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
        std::uintptr_t expected = 0;
        if (!slots[i].begin.compare_exchange_strong(expected, kBusy, std::memory_order_acq_rel)) {
            continue;
        }
        slots[i].faulted.store(false, std::memory_order_relaxed);
        slots[i].end.store(first + length, std::memory_order_release);
        slots[i].begin.store(first, std::memory_order_release);
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
    slots[slot].begin.store(kBusy, std::memory_order_release);
    slots[slot].end.store(0, std::memory_order_release);
    slots[slot].begin.store(0, std::memory_order_release);
}

bool FaultGuard::HasFaulted(int slot) {
    return slot >= 0 && slot < kSlots && slots[slot].faulted.load(std::memory_order_acquire);
}

}  // namespace vrexa::file::posix
