#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "file/BoundedData.h"

namespace vrexa::file {

// A range whose bytes are addressable in memory: a mapped view of the file or
// an in-order write cache.
class MemoryMappedData : public BoundedData {
public:
    using Visitor = std::function<void(const std::uint8_t* data, std::size_t size)>;

    using BoundedData::BoundedData;

    // The address of the current position, advancing it by size; null for 0.
    virtual std::uint8_t* Take(std::size_t size) = 0;
    // The address of the lower bound.
    virtual std::uint8_t* Data() = 0;
    // Calls function with the range's bytes in order, in one or more
    // consecutive pieces (a view reads them from the file piece by piece).
    virtual void Visit(const Visitor& function) = 0;
    // Makes the whole range resident (a view) or loads it from the file (a cache).
    virtual void Fetch() = 0;
    // Makes the bytes durable in the file.
    virtual void Flush() = 0;
    // The owner's work is cancelled (pause, cancel, shutdown): a Flush that
    // waits, now or later, stops waiting. May be called from any thread.
    // Nothing here waits by default.
    virtual void Cancel() {}
};

}  // namespace vrexa::file
