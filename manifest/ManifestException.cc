#include "manifest/ManifestException.h"

namespace vrexa {

ManifestException::ManifestException() : std::runtime_error("") {}

}  // namespace vrexa
