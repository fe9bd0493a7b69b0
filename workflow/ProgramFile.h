#pragma once

#include <string>

namespace vrexa {

class TransferWorkInterface;

// Whether the package's file at path is one of its programs: its run file,
// whatever its name, or a file whose own name says it is executable. Only
// these lose execution while they are written and get it back at the end.
bool IsProgramFile(TransferWorkInterface& transfer, const std::string& path);

}  // namespace vrexa
