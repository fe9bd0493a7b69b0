#pragma once

#include <stdexcept>

namespace vrexa {

// Manifest failures carry no message: the class is the information, and callers
// decide what to retry by catching the class.
class ManifestException : public std::runtime_error {
public:
    ManifestException();
};

// A document that is not well formed or breaks a reading rule.
class ManifestParseException : public ManifestException {};

// A file whose chunk count cannot be represented.
class ManifestOverflowException : public ManifestException {};

// A fetch that was aborted.
class ManifestAbortedException : public ManifestException {};

// A manifest that cannot be located: bad identifier or URL, or a package
// manifest that describes another package. The base is virtual so that the HTTP
// variants can be caught both as HTTP failures and as locator or stream failures
// while holding a single ManifestException.
class ManifestLocatorException : public virtual ManifestException {};

// A fetch that failed in transit.
class ManifestStreamException : public virtual ManifestException {};

}  // namespace vrexa
