// The publisher's command line and node options: anything is either refused
// as a usage error or gives nodes whose path begins and ends with "/".
#include "fuzz/FuzzInput.h"
#include "tools/publish/PublishOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args = vrexa::fuzz::SplitArguments(data, size);
    using namespace vrexa::publish;
    try {
        const NodeSpec node = ParseNodeSpec(args[0]);
        VREXA_FUZZ_CHECK(!node.path.empty() && node.path.front() == '/' && node.path.back() == '/');
    } catch (const UsageError&) {
    }
    try {
        const CommandLine line = ParseCommandLine(args);
        for (const NodeSpec& node : line.options.nodes) {
            VREXA_FUZZ_CHECK(!node.path.empty() && node.path.front() == '/' && node.path.back() == '/');
        }
    } catch (const UsageError&) {
    }
    return 0;
}
