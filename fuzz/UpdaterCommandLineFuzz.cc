// The updater's command line: any argument vector parses without harm, and a
// "log=" value is taken only as the 32-bit rule reads it.
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "updater/ConfigurationReader.h"
#include "updater/UpdaterConfiguration.h"

namespace {

// The 32-bit reading written the plain way, to compare against.
std::optional<std::uint32_t> Reference(const std::string& text) {
    if (text.find('\0') != std::string::npos) return std::nullopt;
    const char* begin = text.c_str();
    while (*begin == ' ' || (*begin >= '\t' && *begin <= '\r'))
        ++begin;
    const char* digits = begin;
    if (*digits == '+' || *digits == '-') ++digits;
    if (*digits < '0' || *digits > '9') return std::nullopt;
    unsigned long long value = 0;
    for (const char* p = digits; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (*begin == '-') value = (0x100000000ull - value) & 0xFFFFFFFFull;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = vrexa::fuzz::SplitArguments(data, size);
    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());

    vrexa::updater::UpdaterConfiguration configuration;
    vrexa::updater::ParseCommandLine(configuration, static_cast<int>(argv.size()), argv.data());
    vrexa::updater::UpdaterConfiguration none;
    vrexa::updater::ParseCommandLine(none, 0, nullptr);

    for (const std::string& arg : args) {
        const auto parsed = vrexa::updater::ParseUnsigned32(arg);
        const auto expected = Reference(arg);
        VREXA_FUZZ_CHECK(parsed.has_value() == expected.has_value());
        if (parsed) VREXA_FUZZ_CHECK(*parsed == *expected);
    }
    return 0;
}
