#include "workflow/TransferHttpWriter.h"

#include "file/MemoryMappedData.h"
#include "workflow/TransferSharedMapData.h"

namespace vrexa {

TransferHttpWriter::TransferHttpWriter(std::shared_ptr<TransferSharedMapData> mapData,
                                       std::shared_ptr<file::MemoryMappedData> window)
    : BoundedDataWriter(window.get()), mapData_(std::move(mapData)), window_(std::move(window)) {}

http::RequestStatus TransferHttpWriter::Write(const char* data, std::size_t size) {
    http::RequestStatus status = BoundedDataWriter::Write(data, size);
    if (status.bytes != 0) {
        mapData_->AddWritten(data, status.bytes);
    }
    return status;
}

}  // namespace vrexa
