#pragma once

#include <string>

namespace vrexa::http {

// Whom a request trusts over HTTPS. The peer's certificate and host name are
// always verified; only the authorities to verify against can change.
struct TlsSettings {
    // A PEM file of trusted authorities; empty: the system's trust store.
    std::string caFile;
};

// configured when it is not empty, else the SSL_CERT_FILE of the environment
// (empty when unset): libcurl points the TLS library at the system bundle
// itself, so the variable users set for their own authorities would
// otherwise never be read.
std::string ChooseCaFile(const std::string& configured);

}  // namespace vrexa::http
