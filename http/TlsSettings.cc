#include "http/TlsSettings.h"

#include <cstdlib>

namespace vrexa::http {

std::string ChooseCaFile(const std::string& configured) {
    if (!configured.empty()) return configured;
    const char* fromEnvironment = std::getenv("SSL_CERT_FILE");
    return fromEnvironment != nullptr ? std::string(fromEnvironment) : std::string();
}

}  // namespace vrexa::http
