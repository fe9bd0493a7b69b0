#pragma once

#include "transfer/TempFileManifestStoreImpl.h"

namespace vrexa {

// Stored records as compact JSON on one line followed by a line feed. Every
// value is a string, escaped by character (JsonEscaping::WideCharacters,
// text/JsonEscape.h): '"' and '\' are escaped with a backslash and '/' as
// "\/"; control characters and every character above U+00FF are written as
// "\u" and four upper-case hexadecimal digits (characters above U+FFFF as a
// surrogate pair); U+0080 to U+00FF stay as they are, in UTF-8.
class JsonTempFileManifestStoreImpl : public TempFileManifestStoreImpl {
public:
    using TempFileManifestStoreImpl::TempFileManifestStoreImpl;

    // Any failure, a record over the size limit or nested too deeply
    // included, is a ManifestParseException.
    void Parse(std::istream& stream, boost::property_tree::ptree& tree) override;
    // Text that is not valid UTF-8 cannot be written faithfully and is a
    // ManifestParseException, like any other failure.
    void Serialize(const boost::property_tree::ptree& tree, std::ostream& stream) override;
    // id + ".json".
    std::string FileName(const std::string& id) override;
};

}  // namespace vrexa
