// The GTK window on a real (virtual) display: run under xvfb-run.
#include <gtk/gtk.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "locale/CustomBoostLocale.h"
#include "locale/EmbeddedMessageCatalog.h"
#include "service/TransferMonitorImpl.h"
#include "tests/support/TestFolder.h"
#include "updater/Dialog.h"
#include "updater/ProgramResources.h"
#include "updater/gtk/GtkView.h"
#include "updater/orbiq/OrbiqCatalogs.h"
#include "updater/orbiq/OrbiqUpdaterMessages.h"
#include "updater/tests/FakeService.h"

namespace vrexa::updater::gtk {
namespace {

using testing::FakeService;
using Clock = std::chrono::steady_clock;

// Steps run on the window's loop, each until it says it is done; a step that
// is not done by the deadline, or a window that does not close by then after
// the last step, fails the test and closes the window, so a broken window
// never hangs the suite.
class Driver {
public:
    using Step = std::function<bool()>;
    Driver(GtkView& view, std::vector<std::pair<std::string, Step>> steps)
        : view_(view), steps_(std::move(steps)), deadline_(Clock::now() + std::chrono::seconds(20)) {
        source_ = g_timeout_add(50, Tick, this);
    }
    ~Driver() {
        if (source_ != 0) g_source_remove(source_);
    }
    bool Finished() const { return next_ == steps_.size(); }

private:
    static gboolean Tick(gpointer self) {
        auto* driver = static_cast<Driver*>(self);
        while (driver->next_ < driver->steps_.size()) {
            auto& [name, step] = driver->steps_[driver->next_];
            if (!step()) {
                if (Clock::now() < driver->deadline_) return G_SOURCE_CONTINUE;
                ADD_FAILURE() << "not done in time: " << name;
                driver->source_ = 0;
                driver->view_.EndModal();
                return G_SOURCE_REMOVE;
            }
            ++driver->next_;
        }
        // Every step done: the window must now close by itself.
        if (Clock::now() < driver->deadline_) return G_SOURCE_CONTINUE;
        ADD_FAILURE() << "the window did not close";
        driver->source_ = 0;
        driver->view_.EndModal();
        return G_SOURCE_REMOVE;
    }

    GtkView& view_;
    std::vector<std::pair<std::string, Driver::Step>> steps_;
    std::size_t next_ = 0;
    Clock::time_point deadline_;
    guint source_ = 0;
};

struct Harness {
    Harness()
        : resources(CompiledResources()),
          catalog("orbiq-updater", [this](int id) { return resources.FindCatalog(id); }),
          locale(catalog, "en"),
          service({"package-id", "skin-id"}),
          monitor(&service, std::chrono::milliseconds(20)),
          view(errors) {
        orbiq::RegisterOrbiqCatalogs(catalog);
        configuration = testing::SampleConfiguration(folder / "data");
        configuration.languages = {{"en_GB", "English"}, {"de", "Deutsch"}};
        configuration.defaultLocale = "en_GB";
        locale.SetLocale("en_GB");
        dialog = std::make_unique<Dialog>(service, monitor, locale, configuration, messages, view);
        monitor.Start();
    }

    testsupport::TestFolder folder;
    ResourceTable resources;
    locale::EmbeddedMessageCatalog catalog;
    locale::CustomBoostLocale locale;
    FakeService service;
    TransferMonitorImpl monitor;
    orbiq::OrbiqUpdaterMessages messages;
    std::ostringstream errors;
    GtkView view;
    UpdaterConfiguration configuration;
    std::unique_ptr<Dialog> dialog;
};

std::string Text(GtkWidget* label) { return gtk_label_get_text(GTK_LABEL(label)); }

std::filesystem::path ArtifactFolder() {
    const char* folder = std::getenv("VREXA_TEST_ARTIFACTS");
    return folder != nullptr ? folder : std::filesystem::temp_directory_path();
}

TEST(GtkView, LanguageChoiceThenProgressFromTheMonitorThreadThenCloseButton) {
    Harness h;
    const auto& w = h.view.GetWidgets();
    const std::filesystem::path shot = ArtifactFolder() / "updater-window.png";
    std::filesystem::remove(shot);
    Driver driver(h.view, {{"the question is shown",
                            [&] {
                                if (w.window == nullptr || !gtk_widget_get_mapped(w.window)) return false;
                                EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "Orbiq Update (Zazid)");
                                EXPECT_TRUE(gtk_widget_get_visible(w.combo));
                                EXPECT_FALSE(gtk_widget_get_visible(w.progress));
                                EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(w.window)));
                                EXPECT_TRUE(h.service.creations.empty());
                                GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(w.combo));
                                EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), 2);
                                EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(w.combo)), 0);
                                gtk_combo_box_set_active(GTK_COMBO_BOX(w.combo), 1);
                                gtk_button_clicked(GTK_BUTTON(w.ok));
                                EXPECT_EQ(h.locale.GetName(), "de");
                                EXPECT_EQ(Text(w.status), "Verbleibende Zeit wird berechnet");
                                EXPECT_FALSE(gtk_widget_get_visible(w.combo));
                                EXPECT_TRUE(gtk_widget_get_visible(w.progress));
                                EXPECT_EQ(h.service.creations.size(), 2u);
                                h.service.Set("package-id", TransferState::Transferring, TransferError::None, 50, 200);
                                return true;
                            }},
                           {"the monitor's progress reaches the window",
                            [&] {
                                return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(w.progress)) == 0.25 &&
                                       Text(w.status) == "Noch 3 Minuten";
                            }},
                           {"a screenshot",
                            [&] {
                                GdkWindow* window = gtk_widget_get_window(w.window);
                                GdkPixbuf* pixels = gdk_pixbuf_get_from_window(
                                    window, 0, 0, gdk_window_get_width(window), gdk_window_get_height(window));
                                if (pixels == nullptr) return false;
                                GError* error = nullptr;
                                EXPECT_TRUE(gdk_pixbuf_save(pixels, shot.c_str(), "png", &error, nullptr));
                                if (error != nullptr) g_error_free(error);
                                g_object_unref(pixels);
                                return true;
                            }},
                           {"the close button", [&] {
                                gtk_window_close(GTK_WINDOW(w.window));
                                return true;
                            }}});
    h.dialog->Run();
    EXPECT_TRUE(driver.Finished());
    EXPECT_GT(std::filesystem::file_size(shot), 0u) << shot;
    EXPECT_EQ(w.window, nullptr);
}

TEST(GtkView, ErrorFromTheMonitorThreadWaitsForTheUserThenCloses) {
    Harness h;
    const auto& w = h.view.GetWidgets();
    Driver driver(h.view, {{"the question is answered",
                            [&] {
                                if (w.window == nullptr || !gtk_widget_get_mapped(w.window)) return false;
                                gtk_button_clicked(GTK_BUTTON(w.ok));
                                h.service.Set("skin-id", TransferState::Transferring, TransferError::NetworkError);
                                return true;
                            }},
                           {"the message is shown over the window", [&] {
                                const auto messages = h.view.GetMessages();
                                if (messages.size() != 1) return false;
                                EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(messages[0])),
                                             "Orbiq Update (Zazid) Error");
                                EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(messages[0])), GTK_WINDOW(w.window));
                                EXPECT_NE(w.window, nullptr) << "open until the message is dismissed";
                                gtk_dialog_response(GTK_DIALOG(messages[0]), GTK_RESPONSE_OK);
                                return true;
                            }}});
    h.dialog->Run();
    EXPECT_TRUE(driver.Finished());
    EXPECT_EQ(h.errors.str(), "");
}

TEST(GtkView, EscapeClosesAndLaterMessagesNeverWaitOnTheEndedLoop) {
    Harness h;
    const auto& w = h.view.GetWidgets();
    Driver driver(h.view, {{"Escape", [&] {
                                if (w.window == nullptr || !gtk_widget_get_mapped(w.window)) return false;
                                GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
                                event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w.window)));
                                event->key.keyval = GDK_KEY_Escape;
                                gtk_widget_event(w.window, event);
                                gdk_event_free(event);
                                return true;
                            }}});
    h.dialog->Run();
    EXPECT_TRUE(driver.Finished());
    EXPECT_TRUE(h.service.creations.empty());
    std::thread late([&] { h.view.ShowMessage("caption", "text"); });
    late.join();
    EXPECT_EQ(h.errors.str(), "caption: text\n");
}

}  // namespace
}  // namespace vrexa::updater::gtk

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
