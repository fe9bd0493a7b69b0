#pragma once

#include "manifest/ManifestSource.h"

namespace vrexa {

// The two halves a manifest store reads and writes through: a source and a
// sink over the same place.
class ManifestStoreImpl : public ManifestSource, public ManifestSink {
public:
    ManifestStoreImpl() = default;
    ManifestStoreImpl(const ManifestStoreImpl&) = delete;
    ManifestStoreImpl& operator=(const ManifestStoreImpl&) = delete;
};

}  // namespace vrexa
