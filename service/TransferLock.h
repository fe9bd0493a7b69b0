#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace vrexa {

// A transfer's recursive lock with a queue of work that must run only once no
// frame of any thread holds it: raising events and removing files. Client
// operations nest (Suspend cancels, a handler fails the workflow, which calls
// back into the transfer), so "after the lock is released" means after the
// outermost release. One releasing thread at a time runs the queue, in the
// order the work was queued, so events keep the order of their transitions.
class TransferMutex {
public:
    TransferMutex() = default;
    TransferMutex(const TransferMutex&) = delete;
    TransferMutex& operator=(const TransferMutex&) = delete;

    void Lock();
    // The outermost release runs everything queued so far (and whatever other
    // threads queue meanwhile) without the lock held. Exceptions from the
    // queued work are swallowed: nothing queued may fail the caller.
    void Unlock();
    // Only while held by the calling thread.
    void Defer(std::function<void()> work);

private:
    std::recursive_mutex mutex_;
    int depth_ = 0;
    bool draining_ = false;
    std::vector<std::function<void()>> pending_;
};

// Holds a TransferMutex for its scope; the transfer's locked operations take
// it as proof that the caller holds the lock.
class TransferLock {
public:
    explicit TransferLock(TransferMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~TransferLock() { mutex_.Unlock(); }
    TransferLock(const TransferLock&) = delete;
    TransferLock& operator=(const TransferLock&) = delete;

    // Runs work once the lock is released by its outermost holder.
    void Defer(std::function<void()> work) { mutex_.Defer(std::move(work)); }

private:
    TransferMutex& mutex_;
};

}  // namespace vrexa
