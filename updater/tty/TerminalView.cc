#include "updater/tty/TerminalView.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

namespace vrexa::updater::tty {

namespace {

constexpr int kBarWidth = 30;

}  // namespace

TerminalView::TerminalView(Streams streams, std::chrono::milliseconds plainInterval)
    : streams_(streams), plainInterval_(plainInterval) {
    // EndModal wakes a prompt waiting for input through this pipe.
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

TerminalView::~TerminalView() {
    for (int fd : wake_) {
        if (fd >= 0) ::close(fd);
    }
}

TerminalView::Streams TerminalView::ProcessStreams() {
    Streams streams;
    streams.input = STDIN_FILENO;
    streams.inputIsTerminal = ::isatty(STDIN_FILENO) == 1;
    streams.out = &std::cout;
    streams.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    streams.err = &std::cerr;
    return streams;
}

std::string TerminalView::ProgressLine(int percent, const std::string& status, const std::string& detail) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const int filled = percent * kBarWidth / 100;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    line += number;
    line += "  " + status;
    if (!detail.empty()) line += "  " + detail;
    return line;
}

std::optional<int> TerminalView::ParseChoice(const std::string& answer, std::size_t count) {
    std::size_t begin = answer.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return 0;
    const std::size_t end = answer.find_last_not_of(" \t\r");
    const std::string text = answer.substr(begin, end - begin + 1);
    if (text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const int number = std::stoi(text);
    if (number < 1 || static_cast<std::size_t>(number) > count) return std::nullopt;
    return number - 1;
}

void TerminalView::RunModal(DialogEvents& events) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (ended_) return;
    }
    events.OnInitialize();
    for (;;) {
        std::vector<std::string> names;
        {
            std::unique_lock<std::mutex> guard(mutex_);
            changed_.wait(guard, [this] { return ended_ || choice_.has_value(); });
            if (ended_) break;
            names = std::move(*choice_);
            choice_.reset();
        }
        const int chosen = Ask(names);
        if (chosen == kEnded) break;
        events.OnOk(chosen);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    ended_ = true;
    EndLineLocked();
    streams_.out->flush();
}

void TerminalView::EndModal() {
    std::lock_guard<std::mutex> guard(mutex_);
    ended_ = true;
    changed_.notify_all();
    if (wake_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
    }
}

std::optional<std::string> TerminalView::ReadLine(bool& ended) {
    ended = false;
    for (;;) {
        const std::size_t newline = pendingInput_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pendingInput_.substr(0, newline);
            pendingInput_.erase(0, newline + 1);
            return line;
        }
        pollfd fds[2] = {{streams_.input, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (fds[1].revents != 0) {
            ended = true;
            return std::nullopt;
        }
        char buffer[256];
        const ssize_t got = ::read(streams_.input, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            // The end of the input answers with what was typed so far.
            if (pendingInput_.empty()) return std::nullopt;
            std::string line;
            line.swap(pendingInput_);
            return line;
        }
        // A question never needs more than a short line; a flood is cut.
        if (pendingInput_.size() < 4096) pendingInput_.append(buffer, static_cast<std::size_t>(got));
    }
}

int TerminalView::Ask(const std::vector<std::string>& names) {
    if (names.empty()) return -1;
    if (!streams_.inputIsTerminal) return 0;
    std::ostream& out = *streams_.out;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        out << "Please select the language for your download:\n";
        for (std::size_t i = 0; i < names.size(); ++i)
            out << "  " << i + 1 << ") " << names[i] << "\n";
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (ended_) return kEnded;
            out << "Number [1]: " << std::flush;
        }
        bool ended = false;
        const auto line = ReadLine(ended);
        if (ended) return kEnded;
        if (!line) {
            std::lock_guard<std::mutex> guard(mutex_);
            out << "\n";
            return 0;
        }
        if (const auto chosen = ParseChoice(*line, names.size())) return *chosen;
    }
}

void TerminalView::SetTitle(const std::string& title) {
    std::lock_guard<std::mutex> guard(mutex_);
    title_ = title;
}

void TerminalView::ShowLanguageChoice(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> guard(mutex_);
    choice_ = names;
    changed_.notify_all();
}

void TerminalView::ShowProgress() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (ended_) return;
    // The title is written once, when the download begins, so it is in the
    // language chosen.
    if (!titleShown_) {
        *streams_.out << title_ << "\n";
        titleShown_ = true;
    }
    progressShown_ = true;
    DrawLocked();
}

void TerminalView::SetProgress(int percent) {
    std::lock_guard<std::mutex> guard(mutex_);
    percent_ = percent;
    DrawLocked();
}

void TerminalView::SetStatusText(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    status_ = text;
    DrawLocked();
}

void TerminalView::SetDetailText(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    detail_ = text;
    DrawLocked();
}

void TerminalView::DrawLocked() {
    if (ended_ || !progressShown_ || launching_) return;
    std::ostream& out = *streams_.out;
    const std::string line = ProgressLine(percent_, status_, detail_);
    if (streams_.outIsTerminal) {
        out << "\r" << line << "\033[K" << std::flush;
        lineOpen_ = true;
        return;
    }
    if (line == lastPlain_) return;
    const auto now = std::chrono::steady_clock::now();
    const bool finished = percent_ >= 100;
    if (lastPlainTime_ && now - *lastPlainTime_ < plainInterval_ && !finished) return;
    out << line << "\n" << std::flush;
    lastPlain_ = line;
    lastPlainTime_ = now;
}

void TerminalView::EndLineLocked() {
    if (!lineOpen_) return;
    *streams_.out << "\n" << std::flush;
    lineOpen_ = false;
}

void TerminalView::ShowLaunching(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (ended_) return;
    if (progressShown_ && !launching_ && !streams_.outIsTerminal &&
        lastPlain_ != ProgressLine(percent_, status_, detail_)) {
        // The last throttled line may be behind; the final state is shown.
        *streams_.out << ProgressLine(percent_, status_, detail_) << "\n";
    }
    EndLineLocked();
    launching_ = true;
    *streams_.out << text << "\n" << std::flush;
}

void TerminalView::ShowMessage(const std::string& caption, const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    EndLineLocked();
    *streams_.err << caption << ": " << text << "\n" << std::flush;
}

}  // namespace vrexa::updater::tty
