// The three documents a download reads from the network, through the reading
// path the sources use (size and nesting limits, attributes lifted): whatever
// arrives, reading ends in a manifest exception or in a manifest whose file
// paths stay inside the destination and whose checksums match its chunks.
#include <sstream>

#include <boost/property_tree/ptree.hpp>

#include "fuzz/FuzzInput.h"
#include "manifest/ContainedPath.h"
#include "manifest/DocumentLimits.h"
#include "manifest/JsonDocument.h"
#include "manifest/ManifestException.h"
#include "manifest/StandardGeolocationManifest.h"
#include "manifest/StandardNodeListManifest.h"
#include "manifest/StandardPackageManifest.h"
#include "manifest/XmlDocument.h"

namespace {

using namespace vrexa;

void CheckPackage(const StandardPackageManifest& package) {
    VREXA_FUZZ_CHECK(package.GetRunFiles().size() + package.GetOtherFiles().size() == package.GetFiles().size());
    for (const auto& file : package.GetFiles()) {
        VREXA_FUZZ_CHECK(file != nullptr);
        VREXA_FUZZ_CHECK(IsContainedPath(file->GetPath()));
        VREXA_FUZZ_CHECK(file->GetChunkSize() > 0);
        std::uint32_t count = 0;
        try {
            count = file->GetChunkCount();
        } catch (const ManifestException&) {
            continue;
        }
        VREXA_FUZZ_CHECK(file->GetChecksums().size() == count);
    }
    if (package.GetRun().empty()) {
        VREXA_FUZZ_CHECK(package.GetRunFile() == nullptr);
    } else if (package.GetRunFile()) {
        VREXA_FUZZ_CHECK(package.GetRunFile()->GetPath() == package.GetRun());
    }
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
                ReadXmlDocument(stream, tree, kPackageManifestLimits);
                StandardPackageManifest package;
                package.Read(tree);
                CheckPackage(package);
                break;
            }
            case 1: {
                ReadXmlDocument(stream, tree, kNodeListLimits);
                StandardNodeListManifest nodes;
                nodes.Read(tree);
                for (const auto& node : nodes.GetNodes()) {
                    VREXA_FUZZ_CHECK(node != nullptr);
                    VREXA_FUZZ_CHECK(!node->GetNodeId().empty() && !node->GetHost().empty());
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
