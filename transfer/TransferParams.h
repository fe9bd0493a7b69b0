#pragma once

#include <string>

#include <boost/property_tree/ptree_fwd.hpp>

#include "work/WorkDescriptor.h"

namespace vrexa {

// What identifies one transfer and where it goes. "?" stands for a value not
// given yet.
class TransferParams : public WorkDescriptor {
public:
    // 32 lower-case hexadecimal digits once the manager assigns it.
    std::string transferId = "?";
    std::string partnerId = "?";
    std::string packageId = "?";
    // "?" asks for the current version; replaced by the real id when the
    // package manifest arrives.
    std::string versionId = "?";
    // The destination folder; "?" until Start gives one.
    std::string destPath = "?";
    // Rebuilt from the manifest store, or suspended.
    bool restored = false;
    // Output files are preallocated unless the destination cannot take it
    // (a USB drive).
    bool preallocate = true;
    // Which counter the time estimate measures: 0 downloaded, 1 verified bytes.
    int progressMode = 0;

    void Describe(boost::property_tree::ptree& tree) const override;
};

}  // namespace vrexa
