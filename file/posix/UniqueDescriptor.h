#pragma once

#include <unistd.h>

#include <utility>

namespace vrexa::file::posix {

// Owns one open file descriptor and closes it exactly once. Every descriptor
// goes into one the moment it is opened, so a throw on the way to its final
// owner (an allocation that fails, a check that refuses) never leaks it.
class UniqueDescriptor {
public:
    UniqueDescriptor() noexcept = default;
    explicit UniqueDescriptor(int descriptor) noexcept : descriptor_(descriptor) {}
    UniqueDescriptor(UniqueDescriptor&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    UniqueDescriptor& operator=(UniqueDescriptor&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.descriptor_, -1));
        }
        return *this;
    }
    UniqueDescriptor(const UniqueDescriptor&) = delete;
    UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;
    ~UniqueDescriptor() { Reset(); }

    int Get() const noexcept { return descriptor_; }
    // Gives the descriptor up without closing it.
    int Release() noexcept { return std::exchange(descriptor_, -1); }
    explicit operator bool() const noexcept { return descriptor_ >= 0; }

    // Closes the held descriptor (a failing close is not retried: the
    // descriptor is gone either way) and holds descriptor instead.
    void Reset(int descriptor = -1) noexcept {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        descriptor_ = descriptor;
    }

private:
    int descriptor_ = -1;
};

}  // namespace vrexa::file::posix
