// The three documents a download reads from the network, through the reading
// path the sources use (size and nesting limits, attributes lifted, a
// package's file entries read while parsing): whatever arrives, reading ends
// in a manifest exception or in a manifest whose file paths stay inside the
// destination and whose checksums (and SHA-256s, where present) match its
// chunks, and a package reads the same as from the whole tree.
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "fuzz/FuzzInput.h"
#include "manifest/ContainedPath.h"
#include "manifest/DocumentLimits.h"
#include "manifest/JsonDocument.h"
#include "manifest/ManifestException.h"
#include "manifest/Sha256Digest.h"
#include "manifest/StandardGeolocationManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "manifest/UrlParts.h"
#include "manifest/XmlDocument.h"

namespace {

using namespace vrexa;

void CheckPackage(const StandardPackageManifest& package) {
    VREXA_FUZZ_CHECK(package.GetRunFiles().size() + package.GetOtherFiles().size() == package.GetFiles().size());
    VREXA_FUZZ_CHECK(IsPlainSegment(package.GetId()) && IsPlainSegment(package.GetPartnerId()) &&
                     IsPlainSegment(package.GetVersionId()));
    for (const auto& file : package.GetFiles()) {
        VREXA_FUZZ_CHECK(file != nullptr);
        // Whatever was read, a chunk URL and a place on disk can be made of it.
        VREXA_FUZZ_CHECK(IsPackageFilePath(file->GetPath()));
        VREXA_FUZZ_CHECK(FileManifest::IsChunkSizeAllowed(file->GetChunkSize(), file->GetSize()));
        std::uint32_t count = 0;
        try {
            count = file->GetChunkCount();
        } catch (const ManifestException&) {
            continue;
        }
        VREXA_FUZZ_CHECK(file->GetChecksums().size() == count);
        VREXA_FUZZ_CHECK(file->GetSha256s().empty() || file->GetSha256s().size() == count);
    }
    if (package.GetRun().empty()) {
        VREXA_FUZZ_CHECK(package.GetRunFile() == nullptr);
    } else if (package.GetRunFile()) {
        VREXA_FUZZ_CHECK(package.GetRunFile()->GetPath() == package.GetRun());
    }
}

// The files as one line each, in order, and the run file.
std::vector<std::string> Summary(const StandardPackageManifest& package) {
    std::vector<std::string> lines;
    for (const auto& file : package.GetFiles()) {
        std::string line =
            file->GetPath() + "|" + std::to_string(file->GetChunkSize()) + "|" + std::to_string(file->GetSize());
        for (std::uint32_t checksum : file->GetChecksums())
            line += "|" + std::to_string(checksum);
        line += "|" + Sha256ListText(file->GetSha256s());
        lines.push_back(std::move(line));
    }
    lines.push_back(package.GetRunFile() ? package.GetRunFile()->GetPath() : std::string());
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t kind = data[0] % 3;
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    boost::property_tree::ptree tree;
    try {
        switch (kind) {
            case 0: {
                // Read as the sources read it, the file entries handed over
                // while parsing, and again from the whole tree: the two agree.
                const std::string text = stream.str();
                const auto read = [&](bool streaming) -> std::optional<std::vector<std::string>> {
                    std::istringstream in(text);
                    boost::property_tree::ptree whole;
                    StandardPackageManifest package;
                    try {
                        ReadXmlDocument(in, whole, kPackageManifestLimits,
                                        streaming ? package.GetStreamedEntries() : nullptr);
                        package.Read(whole);
                    } catch (const ManifestException&) {
                        return std::nullopt;
                    }
                    CheckPackage(package);
                    return Summary(package);
                };
                VREXA_FUZZ_CHECK(read(true) == read(false));
                break;
            }
            case 1: {
                ReadXmlDocument(stream, tree, kNodeListLimits);
                StandardNodeListManifest nodes;
                nodes.Read(tree);
                for (const auto& node : nodes.GetNodes()) {
                    VREXA_FUZZ_CHECK(node != nullptr);
                    VREXA_FUZZ_CHECK(!node->GetNodeId().empty() && !node->GetHost().empty());
                    VREXA_FUZZ_CHECK(ParseNodeHost(node->GetHost()).has_value() && IsNodePath(node->GetPath()));
                }
                break;
            }
            default: {
                ReadJsonDocument(stream, tree, kGeolocationLimits);
                StandardGeolocationManifest geolocation;
                geolocation.Read(tree);
                break;
            }
        }
    } catch (const ManifestException&) {
    }
    return 0;
}
