// String table files: malformed ones are refused with a message; accepted
// entries are single lines, and cutting them to the resource limit keeps
// whole characters.
#include <string_view>

#include "fuzz/FuzzInput.h"
#include "text/Utf8.h"
#include "updater/StringTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    using namespace vrexa::updater;

    if (vrexa::IsUtf8(content)) {
        const std::string_view cut = CutToUtf16Units(content, kStringResourceLimit);
        VREXA_FUZZ_CHECK(content.substr(0, cut.size()) == cut);
        VREXA_FUZZ_CHECK(vrexa::IsUtf8(cut));
        VREXA_FUZZ_CHECK(Utf16Length(cut) <= kStringResourceLimit);
        VREXA_FUZZ_CHECK(Utf16Length(content) >= Utf16Length(cut));
    }
    try {
        const auto entries = ParseStringTable(content, "fuzz");
        for (const StringTableEntry& entry : entries) {
            VREXA_FUZZ_CHECK(entry.text.find('\n') == std::string::npos);
            VREXA_FUZZ_CHECK(entry.id >= 0 && entry.id <= 65535);
            VREXA_FUZZ_CHECK(entry.line >= 1);
        }
    } catch (const StringTableError&) {
    }
    return 0;
}
