#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "locale/CustomBoostLocale.h"
#include "locale/EmbeddedMessageCatalog.h"
#include "locale/posix/SystemLocale.h"
#include "locale/tests/MoFile.h"

namespace vrexa::locale {
namespace {

using testing::MoFile;

const std::string kHeader = "Content-Type: text/plain; charset=UTF-8\n";

// Catalogs built in memory, served by id.
class CatalogFixture {
public:
    CatalogFixture() : catalog_("demo", [this](int id) { return Bytes(id); }) {}

    void Add(const std::string& localeName, int id, std::map<std::string, std::string> entries) {
        entries[""] = kHeader;
        const auto bytes = MoFile::Write(std::move(entries));
        files_[id].assign(bytes.begin(), bytes.end());
        catalog_.Register(localeName, id);
    }
    EmbeddedMessageCatalog& Catalog() { return catalog_; }

private:
    std::span<const unsigned char> Bytes(int id) {
        const auto found = files_.find(id);
        if (found == files_.end()) return {};
        return found->second;
    }

    std::map<int, std::vector<unsigned char>> files_;
    EmbeddedMessageCatalog catalog_;
};

TEST(EmbeddedMessageCatalog, ServesRegisteredFileNamesOnly) {
    CatalogFixture fixture;
    fixture.Add("de", 1, {{"Yes", "Ja"}});
    auto& catalog = fixture.Catalog();
    catalog.Register("de", 2);   // a second registration keeps the first id
    catalog.Register("fr", 99);  // registered, but no such resource
    EXPECT_EQ(catalog.GetPath(), "");
    EXPECT_EQ(catalog.GetDomain(), "demo");
    EXPECT_EQ(catalog.FileName("de"), "/de/LC_MESSAGES/demo.mo");
    const auto bytes = catalog.Load("/de/LC_MESSAGES/demo.mo", "UTF-8");
    const auto entries = MoFile::Read(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())
                             .value_or(decltype(MoFile::Read(nullptr, 0))::value_type{});
    EXPECT_EQ(entries.at("Yes"), "Ja");
    EXPECT_TRUE(catalog.Load("/fr/LC_MESSAGES/demo.mo", "UTF-8").empty());
    EXPECT_TRUE(catalog.Load("/DE/LC_MESSAGES/demo.mo", "UTF-8").empty());
    EXPECT_TRUE(catalog.Load("de", "UTF-8").empty());
}

TEST(CustomBoostLocale, UsesTheCountryCatalogThenTheLanguageOne) {
    CatalogFixture fixture;
    fixture.Add("de", 1, {{"Yes", "Ja"}});
    fixture.Add("de_CH", 2, {{"Yes", "Jo"}});
    CustomBoostLocale locale(fixture.Catalog(), "de_AT");
    EXPECT_EQ(locale.GetName(), "de_AT");
    EXPECT_EQ(locale.Translate("Yes"), "Ja");
    locale.SetLocale("de_CH");
    EXPECT_EQ(locale.Translate("Yes"), "Jo");
    EXPECT_EQ(locale.Translate("No"), "No") << "no translation: the text itself";
    locale.SetLocale("fr");
    EXPECT_EQ(locale.Translate("Yes"), "Yes");
    // Names the locale library cannot parse must not bring it down.
    for (const std::string& name :
         std::vector<std::string>{"not a locale at all", "de DE", "../de", "de_", "_DE", "d", "de_DE_extra_long_part",
                                  std::string(300, 'x'), "de\nfr", "\xff\xfe"}) {
        locale.SetLocale(name);
        EXPECT_EQ(locale.GetName(), name);
        EXPECT_EQ(locale.Translate("Yes"), "Yes") << name;
    }
    // A well-formed name whose country the locale library reads as an
    // encoding it cannot convert the catalog into: the catalog is still
    // shown, in UTF-8.
    fixture.Add("ru", 3, {{"Yes", "Да"}});
    for (const char* name : {"ru_RUAUTF8@x", "ru_RUAUTF8", "ru_KOI8R"}) {
        locale.SetLocale(name);
        EXPECT_EQ(locale.GetName(), name);
        EXPECT_EQ(locale.Translate("Yes"), "Да") << name;
    }
}

TEST(SimpleLocale, FormatsTranslateArgumentsButNotRawOnes) {
    CatalogFixture fixture;
    fixture.Add("de", 1,
                {{"Start {1}", "{1} starten"},
                 {"Map", "Karte"},
                 {"{1} of {2}", "{1} von {2}"},
                 {"{1} and {1}", "{1} und {1}"}});
    CustomBoostLocale locale(fixture.Catalog(), "de");
    EXPECT_EQ(locale.Format("Start {1}", "Map"), "Karte starten");
    EXPECT_EQ(locale.FormatRaw("Start {1}", "Map"), "Map starten");
    EXPECT_EQ(locale.Format("{1} of {2}", "Map", "Map"), "Map von Map");
    EXPECT_EQ(locale.FormatRaw("{1} and {1}", "x"), "x und x");
    EXPECT_EQ(locale.FormatRaw("{1}", "{1}"), "{1}") << "a value holding a placeholder is inserted once";
    EXPECT_EQ(locale.Format("{1} of {2}", "{2}", "x"), "{2} von x") << "the first value is not filled in again";
    EXPECT_EQ(locale.Format("{1} of {2}", "a", "{1}"), "a von {1}");
}

TEST(SimpleLocale, ATranslationWithBrokenPlaceholdersFallsBackToEnglish) {
    CatalogFixture fixture;
    fixture.Add("xx", 1,
                {
                    {"Start {1}", "Begin {2}"},
                    {"Stop {1}", "Halt {1"},
                    {"Pause", "Halt {1}"},
                    {"{1} minutes remaining", "{1 Minuten"},
                    {"{1} hours, {2} minutes remaining", "{2}:{1}"},
                    {"1 second remaining", "{x} Sekunde"},
                    {"{1} seconds remaining", "noch {1} Sekunden"},
                });
    CustomBoostLocale locale(fixture.Catalog(), "xx");
    EXPECT_EQ(locale.FormatRaw("Start {1}", "A"), "Start A");
    EXPECT_EQ(locale.FormatRaw("Stop {1}", "A"), "Stop A");
    EXPECT_EQ(locale.FormatRaw("Pause", "A"), "Pause");
    EXPECT_EQ(locale.FormatTimeRemaining(300), "6 minutes remaining");
    EXPECT_EQ(locale.FormatTimeRemaining(7320), "3:2") << "reordered placeholders are fine";
    EXPECT_EQ(locale.FormatTimeRemaining(1), "1 second remaining");
    EXPECT_EQ(locale.FormatTimeRemaining(5), "noch 5 Sekunden");
}

TEST(CustomBoostLocale, TranslatesOnOneThreadWhileAnotherSwitchesTheLocale) {
    CatalogFixture fixture;
    fixture.Add("de", 1, {{"Yes", "Ja"}});
    fixture.Add("fr", 2, {{"Yes", "Oui"}});
    CustomBoostLocale locale(fixture.Catalog(), "de");
    std::thread switcher([&] {
        for (int i = 0; i < 50; ++i)
            locale.SetLocale(i % 2 == 0 ? "fr" : "de");
    });
    for (int i = 0; i < 500; ++i) {
        const std::string text = locale.Translate("Yes");
        ASSERT_TRUE(text == "Ja" || text == "Oui") << text;
        const std::string name = locale.GetName();
        ASSERT_TRUE(name == "de" || name == "fr") << name;
    }
    switcher.join();
}

TEST(SimpleLocale, PlaceholderComparison) {
    EXPECT_TRUE(SamePlaceholders("{1} of {2}", "{2} von {1}"));
    EXPECT_TRUE(SamePlaceholders("{1} and {1}", "{1}"));
    EXPECT_TRUE(SamePlaceholders("none", "keine"));
    EXPECT_FALSE(SamePlaceholders("{1}", "{1"));
    EXPECT_FALSE(SamePlaceholders("{1}", "1}"));
    EXPECT_FALSE(SamePlaceholders("{1}", "{2}"));
    EXPECT_FALSE(SamePlaceholders("{1}", "{ 1}"));
    EXPECT_FALSE(SamePlaceholders("text", "{1} text"));
}

TEST(SimpleLocale, NumbersPercentAndSizes) {
    CatalogFixture fixture;
    CustomBoostLocale locale(fixture.Catalog(), "en_US");
    EXPECT_EQ(locale.FormatNumber(2.5, 2), "2.50");
    EXPECT_EQ(locale.FormatPercent(0.256, 1), "25.6%");
    const std::vector<std::pair<std::uint64_t, std::string>> sizes = {
        {0, "0 KB"},
        {512 * 1024, "512 KB"},
        {1048575, "1024 KB"},
        {1048576, "1.00 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {5ull << 40, "5120.00 GB"},
    };
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(locale.FormatSize(bytes), text) << bytes;
}

TEST(SystemLocale, FirstLanguageWithACatalogThenTheLocaleVariables) {
    const auto has = [](const std::string& name) { return name == "de" || name == "fr_CA" || name == "pt_BR"; };
    struct Case {
        std::map<std::string, std::string> variables;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{}, "en"},
        {{{"LANG", "C"}}, "en"},
        {{{"LANG", "POSIX"}}, "en"},
        {{{"LANG", "C.UTF-8"}}, "en"},
        {{{"LANG", "de_DE.UTF-8"}}, "de_DE"},
        {{{"LANG", "de_DE.ISO-8859-15@euro"}}, "de_DE@euro"},
        {{{"LANG", "fr_FR"}, {"LC_MESSAGES", "es_MX.UTF-8"}}, "es_MX"},
        {{{"LANG", "fr_FR"}, {"LC_MESSAGES", "es_MX"}, {"LC_ALL", "sv_SE.UTF-8"}}, "sv_SE"},
        {{{"LANGUAGE", "it:de:fr_CA"}, {"LANG", "ru_RU.UTF-8"}}, "de"},
        {{{"LANGUAGE", "pt_BR.UTF-8:de"}}, "pt_BR"},
        {{{"LANGUAGE", "it:nl"}, {"LANG", "ru_RU.UTF-8"}}, "ru_RU"},
        {{{"LANGUAGE", "::C:de"}, {"LANG", "C"}}, "de"},
    };
    for (const auto& c : cases) {
        const posix::EnvironmentLookup lookup = [&](const char* name) -> std::optional<std::string> {
            const auto found = c.variables.find(name);
            if (found == c.variables.end() || found->second.empty()) return std::nullopt;
            return found->second;
        };
        std::string described;
        for (const auto& [name, value] : c.variables)
            described += name + "=" + value + " ";
        EXPECT_EQ(posix::SystemLocaleName(has, lookup), c.expected) << described;
    }
    EXPECT_EQ(posix::Utf8LocaleName("de_DE.ISO-8859-15@euro"), "de_DE.UTF-8@euro");
    EXPECT_EQ(posix::Utf8LocaleName("es_MX"), "es_MX.UTF-8");
    EXPECT_EQ(posix::Utf8LocaleName("x y"), "en.UTF-8");
    for (const std::string name : {"de", "deu", "de_DE", "es_419", "sr_RS@latin", "de@euro"}) {
        EXPECT_TRUE(posix::IsWellFormedLocaleName(name)) << name;
    }
    for (const std::string name :
         {"", "d", "deut", "de_", "de_D", "de_DE_X", "de@", "de DE", "1e", "de_DE@a b", "_DE"}) {
        EXPECT_FALSE(posix::IsWellFormedLocaleName(name)) << name;
    }
}

TEST(SystemLocale, HasCatalogForAsksForCountryAndLanguageFiles) {
    CatalogFixture fixture;
    fixture.Add("de", 1, {{"Yes", "Ja"}});
    fixture.Add("pt_BR", 2, {{"Yes", "Sim"}});
    EXPECT_TRUE(posix::HasCatalogFor(fixture.Catalog(), "de"));
    EXPECT_TRUE(posix::HasCatalogFor(fixture.Catalog(), "de_AT"));
    EXPECT_TRUE(posix::HasCatalogFor(fixture.Catalog(), "de_AT.UTF-8@euro"));
    EXPECT_TRUE(posix::HasCatalogFor(fixture.Catalog(), "pt_BR"));
    EXPECT_FALSE(posix::HasCatalogFor(fixture.Catalog(), "pt"));
    EXPECT_FALSE(posix::HasCatalogFor(fixture.Catalog(), "en_US"));
}

}  // namespace
}  // namespace vrexa::locale
