#pragma once

#include <memory>

#include "http/BoundedDataWriter.h"

namespace vrexa {

namespace file {
class MemoryMappedData;
}  // namespace file

class TransferSharedMapData;

// Writes a chunk's body into the chunk's window and counts every byte taken
// as completed and downloaded. Holds its own reference to the window, so a
// teardown that drops the chunk's window meanwhile cannot pull it away from
// under a running request.
class TransferHttpWriter : public http::BoundedDataWriter {
public:
    TransferHttpWriter(std::shared_ptr<TransferSharedMapData> mapData, std::shared_ptr<file::MemoryMappedData> window);

    http::RequestStatus Write(const char* data, std::size_t size) override;

private:
    std::shared_ptr<TransferSharedMapData> mapData_;
    std::shared_ptr<file::MemoryMappedData> window_;
};

}  // namespace vrexa
