#pragma once

#include <gtk/gtk.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "updater/DialogView.h"

namespace vrexa::updater::gtk {

// The updater's window in GTK 3: a small fixed-size window centred on the
// screen with the language question (label, combo box, OK), the progress bar,
// a pulsing bar while launching and the status text; errors as message
// dialogs. The close button and Escape mean "close".
//
// GTK is touched only on the thread that built the view (the main thread).
// Calls from other threads are handed to its main loop and never wait on it,
// except ShowMessage, which waits until the message is dismissed or the
// window's loop has ended, whichever comes first: once the loop has ended,
// nothing is handed over any more and messages go to the error stream.
class GtkView : public DialogView {
public:
    // GTK must be initialized (gtk_init_check) on this thread. icon is the
    // product's icon as an image file's bytes (PNG), kept for the window and
    // its messages; without one (or one GTK cannot read) the window has the
    // theme's generic icon.
    explicit GtkView(std::ostream& errors, std::span<const unsigned char> icon = {});
    ~GtkView() override;
    GtkView(const GtkView&) = delete;
    GtkView& operator=(const GtkView&) = delete;

    void RunModal(DialogEvents& events) override;
    void EndModal() override;
    void SetTitle(const std::string& title) override;
    void ShowLanguageChoice(const std::vector<std::string>& names) override;
    void ShowProgress() override;
    void SetProgress(int percent) override;
    void SetStatusText(const std::string& text) override;
    void SetDetailText(const std::string& text) override;
    void ShowLaunching(const std::string& text) override;
    void ShowMessage(const std::string& caption, const std::string& text) override;

    // The widgets while the window exists (null otherwise), for the window's
    // own tests; main thread only.
    struct Widgets {
        GtkWidget* window = nullptr;
        GtkWidget* label = nullptr;
        GtkWidget* combo = nullptr;
        GtkWidget* ok = nullptr;
        GtkWidget* progress = nullptr;
        GtkWidget* marquee = nullptr;
        GtkWidget* status = nullptr;
        GtkWidget* detail = nullptr;
    };
    const Widgets& GetWidgets() const { return widgets_; }
    // The product's icon as read, or null.
    GdkPixbuf* GetIcon() const { return icon_; }
    // The message dialogs being shown; main thread only.
    std::vector<GtkWidget*> GetMessages() const { return messages_; }

private:
    struct Message;

    bool OnMainThread() const;
    // Runs job on the main thread: now when called there, else from its loop,
    // unless the loop has ended.
    void Post(std::function<void()> job);
    void Build();
    void Destroy();
    GtkWidget* NewMessage(GtkWidget* parent, const std::string& caption, const std::string& text);
    static gboolean Pulse(gpointer self);

    std::ostream& errors_;
    const std::thread::id mainThread_;
    GMainLoop* loop_ = nullptr;
    GdkPixbuf* icon_ = nullptr;
    DialogEvents* events_ = nullptr;
    Widgets widgets_;
    std::vector<GtkWidget*> messages_;
    guint pulse_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
};

}  // namespace vrexa::updater::gtk
