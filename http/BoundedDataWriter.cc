#include "http/BoundedDataWriter.h"

#include <new>

#include "file/BoundedData.h"
#include "file/Exception.h"

namespace vrexa::http {

RequestStatus BoundedDataWriter::Write(const char* data, std::size_t size) {
    RequestStatus result;
    result.state = State::Succeeded;
    if (size == 0) {
        return result;
    }
    try {
        const std::size_t written = data_->Write(data, size);
        result.bytes = written;
        if (written != size) {
            result.state = State::WriteError;
        }
    } catch (const file::OutOfBoundsException&) {
        result.state = State::RangeError;
    } catch (const std::bad_alloc&) {
        result.state = State::OutOfMemory;
    } catch (...) {
        result.state = State::WriteError;
    }
    return result;
}

}  // namespace vrexa::http
