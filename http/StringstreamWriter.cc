#include "http/StringstreamWriter.h"

namespace vrexa::http {

RequestStatus StringstreamWriter::Write(const char* data, std::size_t size) {
    RequestStatus result;
    result.state = State::Succeeded;
    if (size == 0) {
        return result;
    }
    bool failed = false;
    try {
        stream_->write(data, static_cast<std::streamsize>(size));
        failed = stream_->fail();
    } catch (...) {
        // A stream with exceptions enabled reports its failure the same way.
        failed = true;
    }
    if (failed) {
        result.state = State::WriteError;
        return result;
    }
    result.bytes = size;
    return result;
}

}  // namespace vrexa::http
