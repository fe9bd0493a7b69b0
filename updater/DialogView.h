#pragma once

#include <string>
#include <vector>

namespace vrexa::updater {

// What the user does in the updater's window; called on the window's (main)
// thread.
class DialogEvents {
public:
    virtual ~DialogEvents() = default;
    // The window exists and is about to be shown.
    virtual void OnInitialize() = 0;
    // OK was pressed with this entry of the language list chosen (-1: none).
    virtual void OnOk(int selected) = 0;
    // The user closes the window (its close button, Escape, an interrupt).
    virtual void OnCancel() = 0;
};

// The updater's window as the dialog drives it. The platform-neutral dialog
// decides what is shown; a view only shows it. Every operation but RunModal
// may be called from any thread and never waits on the window's loop, which
// may already have ended; a view that must touch its widgets on one thread
// hands the change over to it.
class DialogView {
public:
    virtual ~DialogView() = default;

    // Main thread: shows the window, calls events.OnInitialize(), and returns
    // when the window is closed (EndModal). Returns at once when EndModal came
    // first.
    virtual void RunModal(DialogEvents& events) = 0;
    // Ends RunModal, now or as soon as it begins.
    virtual void EndModal() = 0;

    virtual void SetTitle(const std::string& title) = 0;
    // The language question: the display names in this order, the first one
    // chosen; the progress display is hidden meanwhile.
    virtual void ShowLanguageChoice(const std::vector<std::string>& names) = 0;
    // The progress bar and the status text; the language question is hidden.
    virtual void ShowProgress() = 0;
    // 0 to 100.
    virtual void SetProgress(int percent) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    // A second line under the status text (the amounts and the speed); ""
    // leaves it empty.
    virtual void SetDetailText(const std::string& text) = 0;
    // The busy indicator in place of the progress bar, with text as status.
    virtual void ShowLaunching(const std::string& text) = 0;
    // An error message under caption. Returns once the user has dismissed it,
    // or at once where there is nobody to dismiss it or the window's loop has
    // ended.
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
};

}  // namespace vrexa::updater
