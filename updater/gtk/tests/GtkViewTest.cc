// The GTK window on a real (virtual) display: run under xvfb-run.
#include <gtk/gtk.h>

#include <gtest/gtest.h>

#include <algorithm>
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
#include "updater/gtk/tests/WindowManager.h"
#include "updater/orbiq/OrbiqCatalogs.h"
#include "updater/orbiq/OrbiqUpdaterMessages.h"
#include "updater/orbiq/OrbiqUpdater.h"
#include "updater/posix/InstanceLock.h"
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
          view(errors, resources.FindIcon(111)) {
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

// What assistive technology reads for a widget: the window's title, a label's
// text.
std::string AccessibleName(GtkWidget* widget) {
    const char* name = atk_object_get_name(gtk_widget_get_accessible(widget));
    return name != nullptr ? name : "";
}

// The window's pixels as they are on the screen now (null when it has none).
GdkPixbuf* Screenshot(GtkWidget* window) {
    GdkWindow* drawn = gtk_widget_get_window(window);
    return gdk_pixbuf_get_from_window(drawn, 0, 0, gdk_window_get_width(drawn), gdk_window_get_height(drawn));
}

// How many pixels of the widget's area in a screenshot of its window differ
// from the area's first pixel: none where only the background is drawn.
int InkIn(GdkPixbuf* shot, GtkWidget* window, GtkWidget* widget) {
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(widget, window, 0, 0, &x, &y)) return 0;
    GtkAllocation area;
    gtk_widget_get_allocation(widget, &area);
    const int channels = gdk_pixbuf_get_n_channels(shot);
    const int stride = gdk_pixbuf_get_rowstride(shot);
    const guchar* pixels = gdk_pixbuf_get_pixels(shot);
    const int right = std::min(x + area.width, gdk_pixbuf_get_width(shot));
    const int bottom = std::min(y + area.height, gdk_pixbuf_get_height(shot));
    if (x < 0 || y < 0 || right <= x || bottom <= y) return 0;
    auto at = [&](int px, int py) { return pixels + py * stride + px * channels; };
    const guchar* background = at(x, y);
    int ink = 0;
    for (int py = y; py < bottom; ++py) {
        for (int px = x; px < right; ++px) {
            if (!std::equal(background, background + 3, at(px, py))) ++ink;
        }
    }
    return ink;
}

std::filesystem::path ArtifactFolder() {
    const char* folder = std::getenv("VREXA_TEST_ARTIFACTS");
    return folder != nullptr ? folder : std::filesystem::temp_directory_path();
}

TEST(GtkView, LanguageChoiceThenProgressFromTheMonitorThreadThenCloseButton) {
    Harness h;
    const auto& w = h.view.GetWidgets();
    const std::filesystem::path shot = ArtifactFolder() / "updater-window.png";
    std::filesystem::remove(shot);
    Driver driver(
        h.view,
        {{"the question is shown",
          [&] {
              if (w.window == nullptr || !gtk_widget_get_mapped(w.window)) return false;
              EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(w.window)), "Orbiq Update (Zazid)");
              EXPECT_TRUE(gtk_widget_get_visible(w.combo));
              EXPECT_FALSE(gtk_widget_get_visible(w.progress));
              EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(w.window)));
              // The product's own icon, not a theme's.
              GdkPixbuf* icon = gtk_window_get_icon(GTK_WINDOW(w.window));
              EXPECT_TRUE(icon != nullptr && icon == h.view.GetIcon());
              EXPECT_EQ(gtk_window_get_icon_name(GTK_WINDOW(w.window)), nullptr);
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
         {"the amounts beside the time",
          [&] {
              h.service.Set("package-id", TransferState::Transferring, TransferError::None, 3 * 1048576, 12 * 1048576);
              return gtk_widget_get_visible(w.detail) && Text(w.detail) == "3.00 MB von 12.00 MB (0 KB/s)";
          }},
         {"what assistive technology reads",
          [&] {
              EXPECT_EQ(AccessibleName(w.window), "Orbiq Update (Zazid)");
              EXPECT_EQ(AccessibleName(w.status), "Noch 3 Minuten");
              EXPECT_EQ(AccessibleName(w.detail), "3.00 MB von 12.00 MB (0 KB/s)");
              return true;
          }},
         {"the texts are drawn, in a window of the expected size",
          [&] {
              GdkPixbuf* pixels = Screenshot(w.window);
              if (pixels == nullptr) return false;
              GtkAllocation size;
              gtk_widget_get_allocation(w.window, &size);
              EXPECT_EQ(gdk_pixbuf_get_width(pixels), size.width);
              EXPECT_EQ(gdk_pixbuf_get_height(pixels), size.height);
              // The box is 380 pixels wide within a 12-pixel border.
              EXPECT_GE(size.width, 380 + 2 * 12);
              const bool drawn = InkIn(pixels, w.window, w.status) > 20 && InkIn(pixels, w.window, w.detail) > 20 &&
                                 InkIn(pixels, w.window, w.progress) > 20;
              if (drawn) {
                  GError* error = nullptr;
                  EXPECT_TRUE(gdk_pixbuf_save(pixels, shot.c_str(), "png", &error, nullptr));
                  if (error != nullptr) g_error_free(error);
              }
              g_object_unref(pixels);
              // No more reports overwrite the text (one already on its way
              // still may: the next step empties it until it stays).
              if (drawn) h.service.Set("package-id", TransferState::Paused);
              return drawn;
          }},
         {"an emptied text leaves only the background",
          [&] {
              h.view.SetStatusText("");
              GdkPixbuf* pixels = Screenshot(w.window);
              if (pixels == nullptr) return false;
              const bool blank = InkIn(pixels, w.window, w.status) == 0;
              g_object_unref(pixels);
              return blank;
          }},
         {"the window manager's close button", [&] {
              PressCloseButton(w.window);
              return true;
          }}});
    h.dialog->Run();
    EXPECT_TRUE(driver.Finished());
    EXPECT_TRUE(std::filesystem::exists(shot)) << shot;
    EXPECT_EQ(w.window, nullptr);
    EXPECT_EQ(h.errors.str(), "") << "nothing left for the error stream";
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

// A second updater on the same data folder says so in a message of its own
// (there is no window to own it), and starts nothing.
TEST(GtkView, SecondUpdaterShowsThatTheFirstIsRunning) {
    testsupport::TestFolder folder;
    std::ostringstream errors;
    GtkView view(errors, CompiledResources().FindIcon(111));
    UpdaterConfiguration configuration = testing::SampleConfiguration(folder / "data");
    std::filesystem::create_directories(folder / "data");
    posix::InstanceLock first;
    ASSERT_EQ(first.Acquire(folder / "data"), posix::InstanceLock::Result::Acquired);
    bool serviceMade = false;
    Driver driver(view, {{"the message", [&] {
                              const auto messages = view.GetMessages();
                              if (messages.size() != 1) return false;
                              EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(messages[0])), "Orbiq Update (Zazid)");
                              gchar* text = nullptr;
                              g_object_get(messages[0], "text", &text, nullptr);
                              EXPECT_STREQ(text,
                                           "Orbiq Update (Zazid) is already running. Wait until it has finished, or "
                                           "close it and try again.");
                              g_free(text);
                              EXPECT_EQ(gtk_window_get_icon(GTK_WINDOW(messages[0])), view.GetIcon());
                              gtk_dialog_response(GTK_DIALOG(messages[0]), GTK_RESPONSE_OK);
                              return true;
                          }}});
    orbiq::OrbiqUpdater updater;
    const int result = updater.Run(
        CompiledResources(), configuration, view,
        [&serviceMade](const TransferBehavior&) -> std::unique_ptr<TransferContract> {
            serviceMade = true;
            return nullptr;
        },
        errors);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(driver.Finished());
    EXPECT_FALSE(serviceMade);
    EXPECT_EQ(errors.str(), "");
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
