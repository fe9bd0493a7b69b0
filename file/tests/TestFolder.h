#pragma once

#include "tests/support/TestFolder.h"

namespace vrexa::file::testing {

using testsupport::TestFolder;

}  // namespace vrexa::file::testing
