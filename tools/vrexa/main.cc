// vrexa: the download engine on the command line; see HelpText() for what it
// takes and the exit codes it ends with.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "file/posix/FilesystemImpl.h"
#include "service/TransferMonitorImpl.h"
#include "service/TransferService.h"
#include "transfer/posix/FileDestinationLocks.h"
#include "tools/vrexa/CliOptions.h"
#include "tools/vrexa/CliRunner.h"
#include "tools/vrexa/CliSetup.h"
#include "process/posix/SignalWatcher.h"
#include "tools/vrexa/StatusFormat.h"

namespace vrexa::cli {
namespace {

// Where the first Ctrl-C goes: to the runner once there is one; one that
// arrives while the engine is still being built is kept for it.
class Interruption {
public:
    void Attach(CliRunner* runner) {
        std::lock_guard<std::mutex> lock(mutex_);
        runner_ = runner;
        if (runner_ != nullptr && interrupted_) runner_->Interrupt(signal_);
    }
    void Interrupt(int signal) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!interrupted_) signal_ = signal;
        interrupted_ = true;
        if (runner_ != nullptr) runner_->Interrupt(signal_);
    }

private:
    std::mutex mutex_;
    CliRunner* runner_ = nullptr;
    bool interrupted_ = false;
    int signal_ = SIGINT;
};

// The terminal's width, asked anew for every line so that a resized window
// is followed; 0 when standard output is no terminal.
std::size_t TerminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

ProgressPrinter::Mode PrinterMode(const CliOptions& options) {
    if (options.quiet) return ProgressPrinter::Mode::Quiet;
    if (options.json) return ProgressPrinter::Mode::Json;
    return ::isatty(STDOUT_FILENO) ? ProgressPrinter::Mode::Terminal : ProgressPrinter::Mode::Plain;
}

// The commands that look after the stored transfers without running one.
// Each first makes sure the data folder is this user's alone: entries planted
// by someone else must never be listed as ours, or resumed.
int Housekeeping(const CliOptions& options) {
    file::posix::FilesystemImpl filesystem;
    const TransferSettings settings;
    EnsureDataFolders(filesystem, settings);
    posix::FileDestinationLocks locks(filesystem, settings.locksFolder);
    const std::vector<DestinationHolder> holders = locks.Holders();
    switch (options.command) {
        case Command::List:
            for (const TransferParams& params : StoredTransfers(filesystem, settings.transfersFolder)) {
                const bool running = IsHeld(holders, params.transferId);
                std::cout << (options.json ? StoredTransferJson(params, running) : StoredTransferLine(params, running))
                          << '\n';
            }
            break;
        case Command::Remove:
            switch (RemoveStoredTransfer(filesystem, settings.transfersFolder, options.transferId, holders)) {
                case RemoveOutcome::Removed:
                    if (!options.quiet) std::cout << "removed " << options.transferId << '\n';
                    break;
                case RemoveOutcome::NotStored:
                    std::cerr << "vrexa: no stored transfer " << options.transferId << " (see 'vrexa list')\n";
                    return kExitFailed;
                case RemoveOutcome::Running:
                    std::cerr << "vrexa: transfer " << options.transferId
                              << " is running; stop it before removing it\n";
                    return kExitFailed;
            }
            break;
        case Command::Prune: {
            std::optional<std::chrono::seconds> olderThan;
            if (options.olderThanDays) olderThan = std::chrono::hours(24) * *options.olderThanDays;
            for (const std::string& id : PruneStoredTransfers(filesystem, settings.transfersFolder, holders, olderThan,
                                                              std::chrono::system_clock::now())) {
                if (!options.quiet) std::cout << "removed " << id << '\n';
            }
            // And the locks of transfers whose process died.
            locks.RemoveStale();
            break;
        }
        default:
            break;
    }
    std::cout << std::flush;
    return std::cout ? kExitComplete : kExitFailed;
}

int Run(const CliOptions& options) {
    // The engine creates the folders below the data folder as it needs them;
    // made here first, they are private and checked before any is trusted.
    {
        file::posix::FilesystemImpl filesystem;
        EnsureDataFolders(filesystem, SettingsFor(options));
    }
    Interruption interruption;
    // Built first and destroyed last: a second Ctrl-C must end the process
    // at once also while the engine shuts down.
    // A closed terminal (SIGHUP) is a request to close like the others: the
    // transfer is suspended for resume first.
    process::posix::SignalWatcher watcher({SIGINT, SIGTERM, SIGHUP}, [&interruption](int signal, int count) {
        if (count == 1) {
            interruption.Interrupt(signal);
            return;
        }
        static const char kMessage[] = "\nvrexa: interrupted again; stopping at once\n";
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        ::_exit(128 + signal);
    });

    TransferService service(SettingsFor(options));
    TransferMonitorImpl monitor(&service);
    monitor.Start();
    ProgressPrinter printer(std::cout, PrinterMode(options));
    printer.SetWidth(&TerminalWidth);
    printer.SetMayRetry(options.retries > 0);
    CliRunner runner(service, monitor, printer, std::cerr, options.quiet);
    runner.SetVerbose(options.verbose);
    runner.SetRetryDelays(std::chrono::seconds(options.retryWaitSeconds), options.retries);
    interruption.Attach(&runner);

    int code = kExitFailed;
    switch (options.command) {
        case Command::Download:
            code = runner.Follow(service.Transfer(options.partnerId, options.packageId, options.versionId),
                                 options.dest, CliRunner::Purpose::Download);
            break;
        case Command::Verify:
            code = runner.Follow(service.Verify(options.partnerId, options.packageId, options.versionId, options.dest),
                                 options.dest, CliRunner::Purpose::Verify);
            break;
        case Command::Resume: {
            const TransferStatus restored = service.Restore(options.transferId);
            if (restored.state == TransferState::None) {
                std::cerr << "vrexa: no stored transfer " << options.transferId << " (see 'vrexa list')\n";
                break;
            }
            if (restored.state != TransferState::Initializing) {
                std::cerr << "vrexa: transfer " << options.transferId
                          << " cannot be resumed: " << TransferStateName(restored.state) << ' '
                          << TransferErrorName(restored.error) << '\n';
                break;
            }
            // "?": the destination the transfer was first started into.
            code = runner.Follow(restored, "?", CliRunner::Purpose::Download);
            break;
        }
        default:
            break;
    }
    interruption.Attach(nullptr);
    if (options.json) {
        std::cout << JsonFinalLine(code, code == kExitComplete ? std::string() : runner.LastMessage(),
                                   options.transferId.empty() ? runner.TransferId() : options.transferId)
                  << std::endl;
    }
    return code;
}

}  // namespace
}  // namespace vrexa::cli

int main(int argc, char** argv) {
    using namespace vrexa::cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::error_code error;
    const std::string workingDirectory = std::filesystem::current_path(error).string();
    CliOptions options;
    try {
        options = ParseCommandLine(args, ProcessEnvironment(), workingDirectory);
        if (!options.dest.empty() && options.dest[0] != '/') {
            throw UsageError("the working directory is gone; give the destination as an absolute path");
        }
    } catch (const UsageError& usage) {
        std::cerr << "vrexa: " << usage.what() << "\nTry 'vrexa --help' for more information.\n";
        return kExitUsage;
    }
    try {
        switch (options.command) {
            case Command::Help:
                std::cout << HelpText();
                return kExitComplete;
            case Command::HelpJson:
                std::cout << JsonHelpText();
                return kExitComplete;
            case Command::Version:
                std::cout << VersionText();
                return kExitComplete;
            case Command::ManPage:
                std::cout << ManPageText();
                return kExitComplete;
            case Command::Completion:
                std::cout << CompletionText();
                return kExitComplete;
            case Command::List:
            case Command::Remove:
            case Command::Prune:
                return Housekeeping(options);
            default:
                return Run(options);
        }
    } catch (const std::exception& failure) {
        // The engine answers every transfer operation with a status; what
        // lands here failed around it (no thread, no memory).
        std::cerr << "vrexa: " << failure.what() << '\n';
        return kExitFailed;
    }
}
