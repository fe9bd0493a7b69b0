#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "locale/CustomBoostLocale.h"
#include "locale/EmbeddedMessageCatalog.h"
#include "locale/SimpleLocale.h"
#include "locale/tests/MoFile.h"
#include "updater/Dialog.h"
#include "updater/ProgramResources.h"
#include "updater/StringTable.h"
#include "updater/orbiq/OrbiqCatalogs.h"
#include "updater/orbiq/OrbiqUpdaterMessages.h"
#include "vrexa/UpdaterDeployment.h"

namespace vrexa::updater {
namespace {

const std::string kHost = deployment::kSupportHost;

// Every message id the catalogs must hold: the product's texts as the code
// builds them, the time-remaining patterns, the four unused ones and the
// window's own lines.
std::vector<std::string> ExpectedIds() {
    orbiq::OrbiqUpdaterMessages messages;
    std::vector<std::string> ids = {
        "1 hour remaining",
        "1 hour, 1 minute remaining",
        "1 hour, {1} minutes remaining",
        "1 minute remaining",
        "1 second remaining",
        messages.GetErrorMessage(TransferError::Unknown),
        "Calculating time remaining",
        messages.GetErrorMessage(TransferError::NetworkError),
        messages.GetLaunchingText(),
        "Launching {1}",
        messages.GetErrorMessage(TransferError::InsufficientSpace),
        messages.GetErrorMessage(TransferError::OutOfMemory),
        "Orbiq Update",
        messages.GetTitle(),
        messages.GetErrorTitle(),
        messages.GetLaunchFailedText(),
        messages.GetErrorMessage(TransferError::GeofenceBlocked),
        messages.GetErrorMessage(TransferError::FileWriteError),
        "{1} Error",
        "{1} could not be launched. Please visit " + kHost + " for further assistance.",
        "{1} hours remaining",
        "{1} hours, 1 minute remaining",
        "{1} hours, {2} minutes remaining",
        "{1} minutes remaining",
        "{1} seconds remaining",
        messages.GetAlreadyRunningText(),
        kConnectingText,
        kWaitingText,
        kAmountsText,
    };
    return ids;
}

TEST(Catalogs, EveryCatalogTranslatesEveryMessageKeepingPlaceholdersNameAndHost) {
    const ResourceTable resources = CompiledResources();
    const std::vector<std::string> ids = ExpectedIds();
    ASSERT_EQ(ids.size(), 29u) << "the product's 25 and the window's 4, each once";
    for (int id = 201; id <= 223; ++id) {
        SCOPED_TRACE("catalog " + std::to_string(id));
        const auto bytes = resources.FindCatalog(id);
        const auto entries = locale::testing::MoFile::Read(bytes.data(), bytes.size());
        ASSERT_TRUE(entries.has_value()) << "not a little-endian MO file";
        ASSERT_TRUE(entries->count(""));
        EXPECT_NE(entries->at("").find("Content-Type: text/plain; charset=UTF-8"), std::string::npos);
        EXPECT_EQ(entries->size(), ids.size() + 1) << "the header and the messages, nothing else";
        for (const auto& message : ids) {
            const auto found = entries->find(message);
            if (found == entries->end()) {
                ADD_FAILURE() << "missing: " << message;
                continue;
            }
            const std::string& text = found->second;
            EXPECT_FALSE(text.empty()) << message;
            EXPECT_TRUE(IsValidUtf8(text)) << message;
            EXPECT_TRUE(locale::SamePlaceholders(message, text)) << message << " -> " << text;
            if (message.find("Orbiq Update") != std::string::npos) {
                EXPECT_NE(text.find("Orbiq Update"), std::string::npos) << text;
            }
            if (message.find(kHost) != std::string::npos) {
                EXPECT_NE(text.find(kHost), std::string::npos) << text;
            }
        }
    }
}

TEST(OrbiqUpdaterMessages, ErrorMessagesByTransferError) {
    orbiq::OrbiqUpdaterMessages messages;
    const std::string unexpected = "An unexpected error occurred. For more information please visit " + kHost;
    const std::string storage =
        "Trouble writing to storage. Make sure the user account has sufficient permissions and please try again.";
    const std::map<int, std::string> expected = {
        {0, unexpected},
        {1, unexpected},
        {2, "Internet connection not established. Check the Internet connection and please try again."},
        {3, "Out of memory. Free up some memory and try again."},
        {4, "Not enough storage. Free some space and please try again."},
        {5, storage},
        {6, unexpected},
        {7, storage},
        {8, unexpected},
        {9, unexpected},
        {10, "This download is not available in your location. Please visit " + kHost + " for more information."},
        {200, unexpected},
    };
    for (const auto& [error, text] : expected) {
        EXPECT_EQ(messages.GetErrorMessage(static_cast<TransferError>(error)), text) << error;
    }
    EXPECT_EQ(messages.GetCatalogDomain(), "orbiq-updater");
    EXPECT_EQ(messages.GetLaunchFailedText(),
              "Orbiq Update ({1}) could not be launched. Please visit " + kHost + " for further assistance.");
}

// The product's catalog and a locale over it, as the application builds them.
class OrbiqLocaleTest : public ::testing::Test {
protected:
    OrbiqLocaleTest()
        : resources_(CompiledResources()),
          catalog_(messages_.GetCatalogDomain(), [this](int id) { return resources_.FindCatalog(id); }) {
        orbiq::RegisterOrbiqCatalogs(catalog_);
    }

    orbiq::OrbiqUpdaterMessages messages_;
    ResourceTable resources_;
    locale::EmbeddedMessageCatalog catalog_;
};

TEST_F(OrbiqLocaleTest, LocaleNamesReachTheirCatalogs) {
    // "1 hour remaining" tells Latin American from European Spanish.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"es_MX", "Falta 1 hora"},     {"es_AR", "Falta 1 hora"},  {"es_PR", "Falta 1 hora"},
        {"es", "Queda 1 hora"},        {"es_ES", "Queda 1 hora"},  {"es_US", "Queda 1 hora"},
        {"de", "Noch 1 Stunde"},       {"de_AT", "Noch 1 Stunde"}, {"nb", "1 time gjenstår"},
        {"nn_NO", "1 time gjenstår"},  {"zh", "剩余 1 小时"},      {"zh_SG", "剩余 1 小时"},
        {"zh_HK", "剩餘 1 小時"},      {"zh_MO", "剩餘 1 小時"},   {"ru_RU", "Остался 1 час"},
        {"en_US", "1 hour remaining"}, {"en", "1 hour remaining"}, {"en_GB", "1 hour remaining"},
        {"pt_BR", "Falta 1 hora"},     {"ja_JP", "残り 1 時間"},   {"th", "เหลืออีก 1 ชั่วโมง"},
        {"xx_YY", "1 hour remaining"},
    };
    locale::CustomBoostLocale locale(catalog_, "en_US");
    for (const auto& [name, text] : cases) {
        locale.SetLocale(name);
        EXPECT_EQ(locale.GetName(), name);
        EXPECT_EQ(locale.FormatTimeRemaining(3540), text) << name;
    }
}

TEST_F(OrbiqLocaleTest, TitlesAndMessagesInsertTheDisplayName) {
    locale::CustomBoostLocale locale(catalog_, "de");
    EXPECT_EQ(locale.Format(messages_.GetTitle(), "Zazid"), "Orbiq Update (Zazid)");
    EXPECT_EQ(locale.Format(messages_.GetErrorTitle(), "Zazid"), "Orbiq Update (Zazid) – Fehler");
    EXPECT_EQ(locale.Format(messages_.GetLaunchingText(), "Zazid"), "Orbiq Update (Zazid) wird gestartet");
    EXPECT_EQ(locale.Format(messages_.GetLaunchFailedText(), "Zazid"),
              "Orbiq Update (Zazid) konnte nicht gestartet werden. Weitere Hilfe erhalten Sie unter " + kHost + ".");
    EXPECT_EQ(locale.Translate(messages_.GetErrorMessage(TransferError::NetworkError)),
              "Keine Internetverbindung. Überprüfen Sie die Internetverbindung und versuchen Sie es erneut.");
    locale.SetLocale("fr_FR");
    EXPECT_EQ(locale.Format(messages_.GetErrorTitle(), "Zazid"), "Erreur d'Orbiq Update (Zazid)");
}

TEST_F(OrbiqLocaleTest, TimeRemainingTexts) {
    struct Case {
        std::int64_t seconds;
        std::string english;
        std::string russian;
    };
    const std::vector<Case> cases = {
        {-1, "Calculating time remaining", "Вычисление оставшегося времени"},
        {-7, "Calculating time remaining", "Вычисление оставшегося времени"},
        {0, "0 seconds remaining", "Осталось: 0 с"},
        {1, "1 second remaining", "Осталась 1 секунда"},
        {2, "2 seconds remaining", "Осталось: 2 с"},
        {59, "59 seconds remaining", "Осталось: 59 с"},
        {60, "1 minute remaining", "Осталась 1 минута"},
        {61, "2 minutes remaining", "Осталось: 2 мин"},
        {119, "2 minutes remaining", "Осталось: 2 мин"},
        {3540, "1 hour remaining", "Остался 1 час"},
        {3600, "1 hour, 1 minute remaining", "Остался 1 час 1 минута"},
        {3660, "1 hour, 2 minutes remaining", "Осталось: 1 ч 2 мин"},
        {7140, "2 hours remaining", "Осталось: 2 ч"},
        {7200, "2 hours, 1 minute remaining", "Осталось: 2 ч 1 мин"},
        {7320, "2 hours, 3 minutes remaining", "Осталось: 2 ч 3 мин"},
        {INT32_MAX, "596523 hours, 15 minutes remaining", "Осталось: 596523 ч 15 мин"},
        // The extra minute must not wrap the largest values to negative hours.
        {INT64_MAX - 59, "2562047788015215 hours, 30 minutes remaining", "Осталось: 2562047788015215 ч 30 мин"},
        {INT64_MAX, "2562047788015215 hours, 30 minutes remaining", "Осталось: 2562047788015215 ч 30 мин"},
    };
    locale::CustomBoostLocale english(catalog_, "en_US");
    locale::CustomBoostLocale russian(catalog_, "ru");
    for (const auto& c : cases) {
        EXPECT_EQ(english.FormatTimeRemaining(c.seconds), c.english) << c.seconds;
        EXPECT_EQ(russian.FormatTimeRemaining(c.seconds), c.russian) << c.seconds;
    }
}

}  // namespace
}  // namespace vrexa::updater
