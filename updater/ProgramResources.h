#pragma once

#include <string>

#include "updater/Environment.h"
#include "updater/ResourceTable.h"

namespace vrexa::updater {

// The string table and catalogs compiled into the program.
ResourceTable CompiledResources();

// The compiled resources, with the string table replaced by the file that
// VREXA_STRING_TABLE names when overrides has it. Throws StringTableError
// (naming the file and line) when that file cannot be read or is malformed.
ResourceTable LoadProgramResources(const Environment& overrides);

// Replaces the strings of table with those of a string table file.
void LoadStringTableFile(const std::string& path, ResourceTable& table);

}  // namespace vrexa::updater
