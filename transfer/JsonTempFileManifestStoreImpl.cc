#include "transfer/JsonTempFileManifestStoreImpl.h"

#include <string>

#include <boost/property_tree/ptree.hpp>

#include "manifest/DocumentLimits.h"
#include "manifest/JsonDocument.h"
#include "manifest/ManifestException.h"
#include "text/JsonEscape.h"

namespace vrexa {

namespace {

using boost::property_tree::ptree;

void AppendString(std::string& out, const std::string& text) {
    out += '"';
    AppendJsonEscaped(out, text, JsonEscaping::WideCharacters);
    out += '"';
}

// Objects for nodes with children (arrays when every key is empty), strings
// for values. Depth is bounded by the trees written here (a flat record).
void AppendValue(std::string& out, const ptree& node) {
    if (node.empty()) {
        AppendString(out, node.data());
        return;
    }
    bool array = true;
    for (const auto& [key, child] : node) {
        array = array && key.empty();
    }
    out += array ? '[' : '{';
    bool first = true;
    for (const auto& [key, child] : node) {
        if (!first) {
            out += ',';
        }
        first = false;
        if (!array) {
            AppendString(out, key);
            out += ':';
        }
        AppendValue(out, child);
    }
    out += array ? ']' : '}';
}

}  // namespace

void JsonTempFileManifestStoreImpl::Parse(std::istream& stream, ptree& tree) {
    ReadJsonDocument(stream, tree, kStoredTransferLimits);
}

void JsonTempFileManifestStoreImpl::Serialize(const ptree& tree, std::ostream& stream) {
    try {
        std::string text;
        if (tree.empty()) {
            text = "{}";
        } else {
            AppendValue(text, tree);
        }
        text += '\n';
        if (!stream.write(text.data(), static_cast<std::streamsize>(text.size()))) {
            throw ManifestParseException();
        }
    } catch (...) {
        throw ManifestParseException();
    }
}

std::string JsonTempFileManifestStoreImpl::FileName(const std::string& id) { return id + ".json"; }

}  // namespace vrexa
