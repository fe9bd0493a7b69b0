#include "file/Volume.h"

#include <utility>

namespace vrexa::file {

Volume::Volume(std::string rootPath) : rootPath_(std::move(rootPath)) {}

Volume::~Volume() = default;

FileSystemType Volume::GetFileSystemType(const std::string& name) {
    if (name == "NTFS") {
        return FileSystemType::Ntfs;
    }
    if (name == "FAT32") {
        return FileSystemType::Fat32;
    }
    if (name == "exFAT") {
        return FileSystemType::ExFat;
    }
    return FileSystemType::Unknown;
}

}  // namespace vrexa::file
