#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "updater/tty/TerminalView.h"

namespace vrexa::updater::tty {
namespace {

// A pipe standing in for the keyboard.
struct Input {
    Input() { EXPECT_EQ(::pipe(fds), 0); }
    ~Input() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    void Type(const std::string& text) { ASSERT_EQ(::write(fds[1], text.data(), text.size()), ssize_t(text.size())); }
    void Close() {
        ::close(fds[1]);
        fds[1] = -1;
    }
    int fds[2] = {-1, -1};
};

// What a dialog does: a title, then the question or the progress; OK ends.
struct Events : DialogEvents {
    Events(TerminalView& view, std::vector<std::string> names) : view(view), names(std::move(names)) {}
    void OnInitialize() override {
        view.SetTitle("Orbiq Update (Zazid)");
        if (names.empty()) {
            view.ShowProgress();
        } else {
            view.ShowLanguageChoice(names);
        }
    }
    void OnOk(int selected) override {
        chosen.push_back(selected);
        view.EndModal();
    }
    void OnCancel() override {}

    TerminalView& view;
    std::vector<std::string> names;
    std::vector<int> chosen;
};

struct Harness {
    explicit Harness(bool inputIsTerminal, bool outIsTerminal,
                     std::chrono::milliseconds interval = std::chrono::hours(1))
        : view(TerminalView::Streams{input.fds[0], inputIsTerminal, &out, outIsTerminal, &err}, interval) {}
    Input input;
    std::ostringstream out, err;
    TerminalView view;
};

TEST(TerminalView, ProgressLineShowsBarPercentAndText) {
    EXPECT_EQ(TerminalView::ProgressLine(0, "Calculating time remaining"),
              "[------------------------------]   0%  Calculating time remaining");
    EXPECT_EQ(TerminalView::ProgressLine(50, "1 minute remaining"),
              "[###############---------------]  50%  1 minute remaining");
    EXPECT_EQ(TerminalView::ProgressLine(100, ""), "[##############################] 100%  ");
    EXPECT_EQ(TerminalView::ProgressLine(50, "1 minute remaining", "3.00 MB of 6.00 MB (1.00 MB/s)"),
              "[###############---------------]  50%  1 minute remaining  3.00 MB of 6.00 MB (1.00 MB/s)");
    EXPECT_EQ(TerminalView::ProgressLine(250, ""), TerminalView::ProgressLine(100, ""));
    EXPECT_EQ(TerminalView::ProgressLine(-3, ""), TerminalView::ProgressLine(0, ""));
}

TEST(TerminalView, ChoiceAnswers) {
    struct Case {
        std::string answer;
        std::optional<int> chosen;
    };
    const Case cases[] = {{"", 0},        {"  \r", 0}, {"1", 0},   {" 3 ", 2},      {"0", {}},
                          {"4", {}},      {"-1", {}},  {"2x", {}}, {"Deutsch", {}}, {"99999999999999", {}},
                          {"0000002", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE("\"" + c.answer + "\"");
        EXPECT_EQ(TerminalView::ParseChoice(c.answer, 3), c.chosen);
    }
}

TEST(TerminalView, TerminalRedrawsOneLineAndEndsItBeforeAMessage) {
    Harness h(false, true);
    Events events(h.view, {});
    h.view.SetProgress(0);
    h.view.SetStatusText("Calculating time remaining");
    events.OnInitialize();
    h.view.SetProgress(50);
    h.view.SetStatusText("1 minute remaining");
    h.view.ShowMessage("Orbiq Update (Zazid) Error", "Trouble writing to storage.");
    const std::string out = h.out.str();
    EXPECT_EQ(out.find("Orbiq Update (Zazid)\n"), 0u) << "the title first, once";
    EXPECT_EQ(out.find("Orbiq Update (Zazid)", 1), std::string::npos);
    EXPECT_NE(out.find("\r" + TerminalView::ProgressLine(50, "Calculating time remaining") + "\033[K"),
              std::string::npos);
    EXPECT_NE(out.find("\r" + TerminalView::ProgressLine(50, "1 minute remaining") + "\033[K\n"), std::string::npos)
        << "the line is ended before the message";
    EXPECT_EQ(h.err.str(), "Orbiq Update (Zazid) Error: Trouble writing to storage.\n");
}

TEST(TerminalView, PlainOutputWritesThrottledLinesAndTheLastStateBeforeLaunching) {
    Harness h(false, false);
    Events events(h.view, {});
    h.view.SetStatusText("Calculating time remaining");
    events.OnInitialize();
    h.view.SetProgress(10);
    h.view.SetProgress(20);
    h.view.ShowLaunching("Launching Orbiq Update (Zazid)");
    h.view.SetProgress(30);
    const std::string expected =
        "Orbiq Update (Zazid)\n" + TerminalView::ProgressLine(0, "Calculating time remaining") + "\n" +
        TerminalView::ProgressLine(20, "Calculating time remaining") + "\nLaunching Orbiq Update (Zazid)\n";
    EXPECT_EQ(h.out.str(), expected);
    EXPECT_EQ(h.out.str().find('\r'), std::string::npos);
}

TEST(TerminalView, PlainOutputAlwaysWritesTheEnd) {
    Harness h(false, false);
    Events events(h.view, {});
    events.OnInitialize();
    h.view.SetProgress(40);
    h.view.SetProgress(100);
    EXPECT_NE(h.out.str().find(TerminalView::ProgressLine(100, "") + "\n"), std::string::npos);
    EXPECT_EQ(h.out.str().find(TerminalView::ProgressLine(40, "")), std::string::npos);
}

TEST(TerminalView, NumberedQuestionAsksAgainUntilAnswered) {
    Harness h(true, true);
    Events events(h.view, {"English", "Deutsch", "Français"});
    h.input.Type("5\n2\n");
    h.view.RunModal(events);
    EXPECT_EQ(events.chosen, std::vector<int>{1});
    const std::string out = h.out.str();
    EXPECT_NE(out.find("Please select the language for your download:\n  1) English\n  2) Deutsch\n  3) Français\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Number [1]: "), out.rfind("Number [1]: ") - 12) << "asked twice";
}

TEST(TerminalView, TheFirstLanguageWithoutAQuestion) {
    struct Case {
        const char* name;
        bool inputIsTerminal;
        bool endInput;
    };
    for (const Case c : {Case{"input not a terminal", false, false}, Case{"end of input", true, true}}) {
        SCOPED_TRACE(c.name);
        Harness h(c.inputIsTerminal, false);
        Events events(h.view, {"English", "Deutsch"});
        if (c.endInput) h.input.Close();
        h.view.RunModal(events);
        EXPECT_EQ(events.chosen, std::vector<int>{0});
    }
}

TEST(TerminalView, CloseEndsAWaitingQuestion) {
    Harness h(true, false);
    Events events(h.view, {"English", "Deutsch"});
    std::thread closer([&] { h.view.EndModal(); });
    h.view.RunModal(events);
    closer.join();
    EXPECT_TRUE(events.chosen.empty());
}

TEST(TerminalView, EndedBeforeItRunsShowsNothing) {
    Harness h(false, false);
    Events events(h.view, {});
    h.view.EndModal();
    h.view.RunModal(events);
    h.view.ShowProgress();
    EXPECT_EQ(h.out.str(), "");
}

}  // namespace
}  // namespace vrexa::updater::tty
