#include "updater/gtk/GtkView.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <memory>

namespace vrexa::updater::gtk {

namespace {

gboolean RunJob(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void DeleteJob(gpointer data) { delete static_cast<std::function<void()>*>(data); }

// A signal handler of any signature as GLib stores it; GLib calls it back
// with the signature the signal has.
template <typename Function>
GCallback AsCallback(Function* function) {
    return reinterpret_cast<GCallback>(function);
}

// Shown means usable, hidden means unusable, as the controls of the window
// are switched together.
void SetShown(GtkWidget* widget, bool shown) {
    if (widget == nullptr) return;
    gtk_widget_set_visible(widget, shown);
    gtk_widget_set_sensitive(widget, shown);
}

}  // namespace

// A message another thread waits on: done once the user has answered it.
struct GtkView::Message {
    GtkView* view;
    bool done = false;
};

namespace {

// The image in bytes, or null when there is none or GTK cannot read it.
GdkPixbuf* ReadImage(std::span<const unsigned char> bytes) {
    if (bytes.empty()) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GdkPixbuf* image = nullptr;
    if (gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        image = gdk_pixbuf_loader_get_pixbuf(loader);
        if (image != nullptr) g_object_ref(image);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return image;
}

}  // namespace

GtkView::GtkView(std::ostream& errors, std::span<const unsigned char> icon)
    : errors_(errors),
      mainThread_(std::this_thread::get_id()),
      loop_(g_main_loop_new(nullptr, FALSE)),
      icon_(ReadImage(icon)) {}

GtkView::~GtkView() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    Destroy();
    // Jobs handed over before the end find no window and do nothing; they are
    // run here so none outlives the view.
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
    g_main_loop_unref(loop_);
    if (icon_ != nullptr) g_object_unref(icon_);
}

bool GtkView::OnMainThread() const { return std::this_thread::get_id() == mainThread_; }

void GtkView::Post(std::function<void()> job) {
    if (OnMainThread()) {
        job();
        return;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (ended_) return;
    g_idle_add_full(G_PRIORITY_DEFAULT, RunJob, new std::function<void()>(std::move(job)), DeleteJob);
}

void GtkView::Build() {
    Widgets w;
    w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_resizable(GTK_WINDOW(w.window), FALSE);
    gtk_window_set_position(GTK_WINDOW(w.window), GTK_WIN_POS_CENTER);
    if (icon_ != nullptr) {
        gtk_window_set_icon(GTK_WINDOW(w.window), icon_);
    } else {
        gtk_window_set_icon_name(GTK_WINDOW(w.window), "system-software-update");
    }
    gtk_container_set_border_width(GTK_CONTAINER(w.window), 12);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_widget_set_size_request(box, 380, -1);
    gtk_container_add(GTK_CONTAINER(w.window), box);

    // The question's label and button are the product's fixed English texts.
    w.label = gtk_label_new("Please select the language for your download:");
    gtk_label_set_xalign(GTK_LABEL(w.label), 0.0f);
    gtk_box_pack_start(GTK_BOX(box), w.label, FALSE, FALSE, 0);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    w.combo = gtk_combo_box_text_new();
    gtk_box_pack_start(GTK_BOX(row), w.combo, TRUE, TRUE, 0);
    w.ok = gtk_button_new_with_label("OK");
    gtk_widget_set_can_default(w.ok, TRUE);
    gtk_box_pack_start(GTK_BOX(row), w.ok, FALSE, FALSE, 0);

    w.progress = gtk_progress_bar_new();
    gtk_box_pack_start(GTK_BOX(box), w.progress, FALSE, FALSE, 0);
    w.marquee = gtk_progress_bar_new();
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(w.marquee), 0.05);
    gtk_box_pack_start(GTK_BOX(box), w.marquee, FALSE, FALSE, 0);

    w.status = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(w.status), 0.0f);
    gtk_box_pack_start(GTK_BOX(box), w.status, FALSE, FALSE, 0);

    // The amounts and the speed, in the theme's secondary style.
    w.detail = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(w.detail), 0.0f);
    gtk_style_context_add_class(gtk_widget_get_style_context(w.detail), "dim-label");
    gtk_box_pack_start(GTK_BOX(box), w.detail, FALSE, FALSE, 0);

    gtk_widget_show(box);
    gtk_widget_show(row);
    // Until the dialog decides, only the status text shows.
    for (GtkWidget* hidden : {w.label, w.combo, w.ok, w.progress, w.marquee, w.detail})
        SetShown(hidden, false);
    SetShown(w.status, true);
    gtk_window_set_default(GTK_WINDOW(w.window), w.ok);

    g_signal_connect(w.window, "delete-event", AsCallback(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                         auto* view = static_cast<GtkView*>(self);
                         if (view->events_ != nullptr) view->events_->OnCancel();
                         return TRUE;  // the window goes when the loop ends
                     }),
                     this);
    g_signal_connect(w.window, "key-press-event",
                     AsCallback(+[](GtkWidget*, GdkEventKey* event, gpointer self) -> gboolean {
                         auto* view = static_cast<GtkView*>(self);
                         if (event->keyval != GDK_KEY_Escape) return FALSE;
                         if (view->events_ != nullptr) view->events_->OnCancel();
                         return TRUE;
                     }),
                     this);
    g_signal_connect(w.ok, "clicked", AsCallback(+[](GtkButton*, gpointer self) {
                         auto* view = static_cast<GtkView*>(self);
                         if (view->events_ == nullptr || view->widgets_.combo == nullptr) return;
                         view->events_->OnOk(gtk_combo_box_get_active(GTK_COMBO_BOX(view->widgets_.combo)));
                     }),
                     this);
    widgets_ = w;
}

void GtkView::Destroy() {
    if (pulse_ != 0) {
        g_source_remove(pulse_);
        pulse_ = 0;
    }
    // Destroying a message answers it, which takes it off the list.
    while (!messages_.empty())
        gtk_widget_destroy(messages_.back());
    if (widgets_.window != nullptr) gtk_widget_destroy(widgets_.window);
    widgets_ = Widgets{};
}

void GtkView::RunModal(DialogEvents& events) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (ended_) return;
    }
    events_ = &events;
    Build();
    events.OnInitialize();
    bool ended;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ended = ended_;
    }
    if (!ended) {
        gtk_widget_show(widgets_.window);
        g_main_loop_run(loop_);
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    events_ = nullptr;
    Destroy();
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
}

void GtkView::EndModal() {
    auto quit = [this] {
        // A message still open would keep its own loop running.
        for (GtkWidget* message : std::vector<GtkWidget*>(messages_))
            gtk_dialog_response(GTK_DIALOG(message), GTK_RESPONSE_DELETE_EVENT);
        g_main_loop_quit(loop_);
    };
    std::unique_lock<std::mutex> guard(mutex_);
    ended_ = true;
    changed_.notify_all();
    if (!OnMainThread()) {
        g_idle_add_full(G_PRIORITY_HIGH, RunJob, new std::function<void()>(quit), DeleteJob);
        return;
    }
    guard.unlock();
    quit();
}

void GtkView::SetTitle(const std::string& title) {
    Post([this, title] {
        if (widgets_.window != nullptr) gtk_window_set_title(GTK_WINDOW(widgets_.window), title.c_str());
    });
}

void GtkView::ShowLanguageChoice(const std::vector<std::string>& names) {
    Post([this, names] {
        if (widgets_.window == nullptr) return;
        GtkComboBoxText* combo = GTK_COMBO_BOX_TEXT(widgets_.combo);
        gtk_combo_box_text_remove_all(combo);
        // Appended in the configuration's order, never sorted.
        for (const auto& name : names)
            gtk_combo_box_text_append_text(combo, name.c_str());
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo), names.empty() ? -1 : 0);
        for (GtkWidget* shown : {widgets_.label, widgets_.combo, widgets_.ok})
            SetShown(shown, true);
        for (GtkWidget* hidden : {widgets_.progress, widgets_.status, widgets_.detail})
            SetShown(hidden, false);
        gtk_widget_grab_default(widgets_.ok);
    });
}

void GtkView::ShowProgress() {
    Post([this] {
        if (widgets_.window == nullptr) return;
        for (GtkWidget* shown : {widgets_.progress, widgets_.status})
            SetShown(shown, true);
        for (GtkWidget* hidden : {widgets_.label, widgets_.combo, widgets_.ok})
            SetShown(hidden, false);
    });
}

void GtkView::SetProgress(int percent) {
    Post([this, percent] {
        if (widgets_.progress == nullptr) return;
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(widgets_.progress), std::clamp(percent, 0, 100) / 100.0);
    });
}

void GtkView::SetStatusText(const std::string& text) {
    Post([this, text] {
        if (widgets_.status != nullptr) gtk_label_set_text(GTK_LABEL(widgets_.status), text.c_str());
    });
}

void GtkView::SetDetailText(const std::string& text) {
    Post([this, text] {
        if (widgets_.detail == nullptr) return;
        gtk_label_set_text(GTK_LABEL(widgets_.detail), text.c_str());
        // Only while the progress bar shows, and without an empty gap.
        SetShown(widgets_.detail, !text.empty() && gtk_widget_get_visible(widgets_.progress));
    });
}

gboolean GtkView::Pulse(gpointer self) {
    auto* view = static_cast<GtkView*>(self);
    if (view->widgets_.marquee == nullptr) {
        view->pulse_ = 0;
        return G_SOURCE_REMOVE;
    }
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(view->widgets_.marquee));
    return G_SOURCE_CONTINUE;
}

void GtkView::ShowLaunching(const std::string& text) {
    Post([this, text] {
        if (widgets_.window == nullptr) return;
        SetShown(widgets_.progress, false);
        SetShown(widgets_.detail, false);
        SetShown(widgets_.marquee, true);
        SetShown(widgets_.status, true);
        gtk_label_set_text(GTK_LABEL(widgets_.status), text.c_str());
        if (pulse_ == 0) pulse_ = g_timeout_add(100, Pulse, this);
    });
}

GtkWidget* GtkView::NewMessage(GtkWidget* parent, const std::string& caption, const std::string& text) {
    GtkWidget* message = gtk_message_dialog_new(parent != nullptr ? GTK_WINDOW(parent) : nullptr,
                                                parent != nullptr ? GTK_DIALOG_MODAL : GtkDialogFlags(0),
                                                GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(message), caption.c_str());
    if (icon_ != nullptr) gtk_window_set_icon(GTK_WINDOW(message), icon_);
    if (parent == nullptr) gtk_window_set_position(GTK_WINDOW(message), GTK_WIN_POS_CENTER);
    messages_.push_back(message);
    g_signal_connect(message, "destroy", AsCallback(+[](GtkWidget* widget, gpointer self) {
                         auto& list = static_cast<GtkView*>(self)->messages_;
                         list.erase(std::remove(list.begin(), list.end(), widget), list.end());
                     }),
                     this);
    return message;
}

void GtkView::ShowMessage(const std::string& caption, const std::string& text) {
    if (OnMainThread()) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (ended_) {
                errors_ << caption << ": " << text << "\n" << std::flush;
                return;
            }
        }
        // Also before the window exists or after it has gone: the user still
        // learns why nothing happens.
        GtkWidget* message = NewMessage(widgets_.window, caption, text);
        gtk_dialog_run(GTK_DIALOG(message));
        if (std::find(messages_.begin(), messages_.end(), message) != messages_.end()) gtk_widget_destroy(message);
        return;
    }
    auto state = std::make_shared<Message>(Message{this});
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (ended_) {
            errors_ << caption << ": " << text << "\n" << std::flush;
            return;
        }
        auto* job = new std::function<void()>([this, state, caption, text] {
            {
                std::lock_guard<std::mutex> guard(mutex_);
                if (ended_) return;
            }
            GtkWidget* message = NewMessage(widgets_.window, caption, text);
            auto* held = new std::shared_ptr<Message>(state);
            g_signal_connect_data(
                message, "response", AsCallback(+[](GtkDialog* dialog, gint, gpointer data) {
                    const auto& answered = *static_cast<std::shared_ptr<Message>*>(data);
                    {
                        std::lock_guard<std::mutex> guard(answered->view->mutex_);
                        answered->done = true;
                        answered->view->changed_.notify_all();
                    }
                    gtk_widget_destroy(GTK_WIDGET(dialog));
                }),
                held, +[](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<Message>*>(data); },
                GConnectFlags(0));
            // A message destroyed unanswered (the window's end) is done too.
            g_signal_connect_data(
                message, "destroy", AsCallback(+[](GtkWidget*, gpointer data) {
                    const auto& answered = *static_cast<std::shared_ptr<Message>*>(data);
                    std::lock_guard<std::mutex> guard(answered->view->mutex_);
                    answered->done = true;
                    answered->view->changed_.notify_all();
                }),
                new std::shared_ptr<Message>(state),
                +[](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<Message>*>(data); },
                GConnectFlags(0));
            gtk_widget_show(message);
        });
        g_idle_add_full(G_PRIORITY_DEFAULT, RunJob, job, DeleteJob);
    }
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [&] { return state->done || ended_; });
}

}  // namespace vrexa::updater::gtk
