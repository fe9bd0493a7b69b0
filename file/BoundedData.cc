#include "file/BoundedData.h"

#include "file/Exception.h"

namespace vrexa::file {

BoundedData::BoundedData(std::uint64_t lower, std::uint64_t upper) : lower_(lower), upper_(upper) {}

BoundedData::~BoundedData() = default;

void BoundedData::CheckRange(std::uint64_t first, std::uint64_t last) const {
    if (first > last || first < lower_ || last > upper_) {
        throw OutOfBoundsException();
    }
}

void BoundedData::CheckSize(std::uint64_t first, std::uint64_t last) {
    if (last < first || last - first >= kMaxSpan) {
        ThrowBadAllocation();
    }
}

void BoundedData::CheckSpan(std::uint64_t position, std::size_t size) const {
    const std::uint64_t count = size;
    if (count == 0 || position > UINT64_MAX - (count - 1)) {
        throw OutOfBoundsException();
    }
    const std::uint64_t last = position + (count - 1);
    CheckRange(position, last);
    CheckSize(position, last);
}

void BoundedData::CheckOwnBounds() const {
    CheckRange(lower_, upper_);
    CheckSize(lower_, upper_);
}

}  // namespace vrexa::file
