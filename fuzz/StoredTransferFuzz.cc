// Stored transfer records as a later process reads them back: any file
// content ends in a parse error or in five identifiers; whatever was read
// writes back to a record that reads as the same five values, byte for byte
// the same record when written again.
#include <sstream>

#include <boost/property_tree/ptree.hpp>

#include "file/posix/FilesystemImpl.h"
#include "fuzz/FuzzInput.h"
#include "manifest/ManifestException.h"
#include "transfer/JsonTempFileManifestStoreImpl.h"
#include "transfer/TransferManifest.h"

namespace {

using namespace vrexa;

bool SameParams(const TransferParams& a, const TransferParams& b) {
    return a.transferId == b.transferId && a.partnerId == b.partnerId && a.packageId == b.packageId &&
           a.versionId == b.versionId && a.destPath == b.destPath;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static file::posix::FilesystemImpl filesystem;
    // Parse and Serialize never touch the folder.
    JsonTempFileManifestStoreImpl store("/nonexistent", filesystem);

    TransferManifest first;
    try {
        std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
        boost::property_tree::ptree tree;
        store.Parse(in, tree);
        first.Read(tree);
    } catch (const ManifestException&) {
        return 0;
    }

    std::string record;
    try {
        boost::property_tree::ptree tree;
        first.Write(tree);
        std::ostringstream out;
        store.Serialize(tree, out);
        record = out.str();
    } catch (const ManifestParseException&) {
        // Only text that is not UTF-8 cannot be written; it is refused, never
        // written altered.
        return 0;
    }
    VREXA_FUZZ_CHECK(!record.empty() && record.back() == '\n');
    VREXA_FUZZ_CHECK(record.find('\n') == record.size() - 1);

    TransferManifest second;
    try {
        std::istringstream in(record);
        boost::property_tree::ptree tree;
        store.Parse(in, tree);
        second.Read(tree);
    } catch (const ManifestException&) {
        VREXA_FUZZ_CHECK(!"a written record must read back");
    }
    VREXA_FUZZ_CHECK(SameParams(first.GetParams(), second.GetParams()));

    boost::property_tree::ptree tree;
    second.Write(tree);
    std::ostringstream again;
    store.Serialize(tree, again);
    VREXA_FUZZ_CHECK(again.str() == record);
    return 0;
}
