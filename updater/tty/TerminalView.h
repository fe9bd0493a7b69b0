#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "updater/DialogView.h"

namespace vrexa::updater::tty {

// The updater's window on a terminal, for when there is no display: the title
// once, the language question as a numbered prompt, one progress line redrawn
// in place (bar, percent, time text), messages on the error stream. When the
// output is not a terminal, progress is written as plain lines, at most one
// per interval; when the input is not a terminal, the first language is
// taken without asking.
class TerminalView : public DialogView {
public:
    struct Streams {
        int input = 0;  // file descriptor the answers are read from
        bool inputIsTerminal = false;
        std::ostream* out = nullptr;
        bool outIsTerminal = false;
        std::ostream* err = nullptr;
    };

    explicit TerminalView(Streams streams, std::chrono::milliseconds plainInterval = std::chrono::seconds(1));
    ~TerminalView() override;
    TerminalView(const TerminalView&) = delete;
    TerminalView& operator=(const TerminalView&) = delete;

    // Standard input, output and error, each tested for being a terminal.
    static Streams ProcessStreams();

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

    // The progress line as drawn on a terminal, without control characters:
    // the bar, the percent, the status and, when there is one, the detail.
    static std::string ProgressLine(int percent, const std::string& status, const std::string& detail = "");
    // The chosen entry for an answer to the numbered question: "" is the
    // first; nothing when the answer is not a number from 1 to count.
    static std::optional<int> ParseChoice(const std::string& answer, std::size_t count);

private:
    static constexpr int kEnded = -2;
    // Asks until an entry is chosen; kEnded when EndModal came first.
    int Ask(const std::vector<std::string>& names);
    // One line of input; nothing at the end of the input or when ended.
    std::optional<std::string> ReadLine(bool& ended);
    void DrawLocked();
    void EndLineLocked();

    const Streams streams_;
    const std::chrono::milliseconds plainInterval_;
    int wake_[2] = {-1, -1};

    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
    std::optional<std::vector<std::string>> choice_;
    std::string title_;
    std::string status_;
    std::string detail_;
    int percent_ = 0;
    bool titleShown_ = false;
    bool progressShown_ = false;
    bool launching_ = false;
    bool lineOpen_ = false;  // a progress line is on the terminal without its newline
    std::string lastPlain_;
    std::optional<std::chrono::steady_clock::time_point> lastPlainTime_;
    std::string pendingInput_;
};

}  // namespace vrexa::updater::tty
