#pragma once

#include "http/WriteCallback.h"

namespace vrexa::file {
class BoundedData;
}

namespace vrexa::http {

// Writes the body into a bounded region of an output file (not owned), at the
// region's current position. Bytes outside the region end the exchange as
// RangeError; nothing the region throws escapes.
class BoundedDataWriter : public WriteCallback {
public:
    explicit BoundedDataWriter(file::BoundedData* data) : data_(data) {}
    RequestStatus Write(const char* data, std::size_t size) override;

protected:
    file::BoundedData* data_;
};

}  // namespace vrexa::http
