#pragma once

#include <cstddef>
#include <cstdint>

namespace vrexa::file {

// An inclusive byte range [lower, upper] of a file with a current position.
// Every access outside the range raises OutOfBoundsException; a single access
// (and any range held in memory) covers at most kMaxSpan bytes, beyond which
// std::bad_alloc is raised.
class BoundedData {
public:
    // The largest number of bytes one range or one access may cover.
    static constexpr std::uint64_t kMaxSpan = 0xFFFFFFFFull;
    // Plain reads hand out at most this many bytes per call.
    static constexpr std::size_t kReadPiece = 4096;

    BoundedData(std::uint64_t lower, std::uint64_t upper);
    virtual ~BoundedData();

    BoundedData(const BoundedData&) = delete;
    BoundedData& operator=(const BoundedData&) = delete;

    std::uint64_t GetLower() const { return lower_; }
    std::uint64_t GetUpper() const { return upper_; }
    // upper - lower + 1, as a 64-bit count (a range may span the whole
    // 64-bit space only in theory; ranges used in memory are size-checked).
    std::uint64_t GetLength() const { return upper_ - lower_ + 1; }

    virtual std::uint64_t GetPosition() = 0;
    virtual void Seek(std::uint64_t position) = 0;
    // Returns the number of bytes read; at most kReadPiece per call.
    virtual std::size_t Read(void* buffer, std::size_t size) = 0;
    // Returns the number of bytes written.
    virtual std::size_t Write(const void* buffer, std::size_t size) = 0;

    // OutOfBoundsException unless first <= last and both lie in [lower, upper].
    void CheckRange(std::uint64_t first, std::uint64_t last) const;
    // std::bad_alloc unless first <= last and last - first + 1 <= kMaxSpan.
    static void CheckSize(std::uint64_t first, std::uint64_t last);
    // Both checks for the span of size bytes (size > 0) starting at position;
    // a span whose end overflows 64 bits is out of bounds.
    void CheckSpan(std::uint64_t position, std::size_t size) const;

protected:
    // For a constructor: range and size checks of the object's own bounds.
    void CheckOwnBounds() const;

private:
    std::uint64_t lower_;
    std::uint64_t upper_;
};

}  // namespace vrexa::file
