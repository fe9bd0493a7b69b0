// The product's 23 catalogs formatting what the program hands them: names
// from the string table and numbers from the transfer. Any argument, any
// locale name and any number of seconds gives valid UTF-8 text, never an
// exception, and a message that has a placeholder shows its argument whole.
#include <cstring>
#include <memory>

#include "fuzz/FuzzInput.h"
#include "locale/CustomBoostLocale.h"
#include "locale/EmbeddedMessageCatalog.h"
#include "text/Utf8.h"
#include "updater/ProgramResources.h"
#include "updater/StringTable.h"
#include "updater/orbiq/OrbiqCatalogs.h"
#include "updater/orbiq/OrbiqUpdaterMessages.h"

namespace {

using namespace vrexa;

const char* const kLocales[] = {"en_US", "cs", "de", "el", "en_GB", "es_AR", "es_ES", "fi",    "fr",
                                "hu",    "it", "ja", "ko", "nl",    "nb",    "pl",    "pt",    "pt_BR",
                                "ro",    "ru", "sv", "th", "tr",    "zh",    "zh_TW", "zh_HK", "es_MX"};

struct Fixture {
    Fixture()
        : resources(updater::CompiledResources()),
          catalog(messages.GetCatalogDomain(), [this](int id) { return resources.FindCatalog(id); }) {
        updater::orbiq::RegisterOrbiqCatalogs(catalog);
    }
    locale::CustomBoostLocale& Known(std::size_t index) {
        auto& slot = known[index];
        if (!slot) {
            slot = std::make_unique<locale::CustomBoostLocale>(catalog, "en_US");
            slot->SetLocale(kLocales[index]);
        }
        return *slot;
    }
    updater::orbiq::OrbiqUpdaterMessages messages;
    updater::ResourceTable resources;
    locale::EmbeddedMessageCatalog catalog;
    std::unique_ptr<locale::CustomBoostLocale> known[sizeof(kLocales) / sizeof(kLocales[0])];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    if (size < 10) return 0;
    std::int64_t seconds = 0;
    std::memcpy(&seconds, data, 8);
    const std::uint8_t which = data[8];
    const std::uint8_t message = data[9];
    std::vector<std::string> parts = fuzz::SplitArguments(data + 10, size - 10);
    parts.resize(3);

    // A known locale most of the time, the input's own name now and then.
    // Making a locale is slow, so the known ones are made once.
    std::unique_ptr<locale::CustomBoostLocale> own;
    locale::CustomBoostLocale* chosen = nullptr;
    if (which == 255) {
        own = std::make_unique<locale::CustomBoostLocale>(fixture.catalog, "en_US");
        own->SetLocale(parts[2]);
        chosen = own.get();
    } else {
        chosen = &fixture.Known(which % (sizeof(kLocales) / sizeof(kLocales[0])));
    }
    locale::CustomBoostLocale& locale = *chosen;

    const std::string remaining = locale.FormatTimeRemaining(seconds);
    VREXA_FUZZ_CHECK(!remaining.empty() && IsUtf8(remaining));

    std::string pattern;
    switch (message % 5) {
        case 0:
            pattern = fixture.messages.GetTitle();
            break;
        case 1:
            pattern = fixture.messages.GetErrorTitle();
            break;
        case 2:
            pattern = fixture.messages.GetLaunchingText();
            break;
        case 3:
            pattern = fixture.messages.GetLaunchFailedText();
            break;
        default:
            pattern = fixture.messages.GetErrorMessage(static_cast<TransferError>(message / 5));
            break;
    }
    const std::string text = locale.Format(pattern, parts[0], parts[1]);
    if (IsUtf8(parts[0]) && IsUtf8(parts[1])) {
        VREXA_FUZZ_CHECK(IsUtf8(text));
    }
    if (pattern.find("{1}") != std::string::npos) {
        VREXA_FUZZ_CHECK(text.find(parts[0]) != std::string::npos);
    }
    return 0;
}
