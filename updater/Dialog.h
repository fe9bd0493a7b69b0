#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "file/posix/FilesystemImpl.h"
#include "locale/SimpleLocale.h"
#include "service/TransferMonitorCallback.h"
#include "transfer/TransferError.h"
#include "updater/DialogView.h"
#include "updater/PackageLauncher.h"
#include "updater/UpdaterConfiguration.h"
#include "updater/UpdaterMessages.h"

namespace vrexa {
class TransferContract;
class TransferMonitorImpl;
}  // namespace vrexa

namespace vrexa::updater {

// The updater's one window, whatever shows it: asks for a language when the
// configuration offers several, starts the package and skin transfers, gives
// each its destination once initialized, shows the package's progress, reports
// errors, and launches the package when both are complete.
//
//   created --Run--> running --OnInitialize--> open --Close/OnCancel--> closed
//
// The window's events arrive on the main thread; the monitor's callbacks on
// the monitor thread, one at a time. The mutex guards only the window's state
// and is released before the view, the service or a message is touched.
class Dialog : public TransferMonitorCallback, public DialogEvents {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Nothing is owned; everything must outlive the dialog's use.
    // processFactory starts the package (the platform's by default); clock
    // tells how long a step has lasted (the steady clock by default).
    Dialog(TransferContract& service, TransferMonitorImpl& monitor, locale::SimpleLocale& locale,
           const UpdaterConfiguration& configuration, UpdaterMessages& messages, DialogView& view,
           PackageLauncher::ProcessFactory processFactory = nullptr, Clock clock = nullptr);

    // How long the status says "Connecting to" a host before it says
    // "Waiting for" it.
    static constexpr std::chrono::seconds kConnectingTime{3};

    // The process's one dialog. Creating it twice is a logic error, as is
    // asking for it before it exists.
    static Dialog& CreateSingleton(TransferContract& service, TransferMonitorImpl& monitor,
                                   locale::SimpleLocale& locale, const UpdaterConfiguration& configuration,
                                   UpdaterMessages& messages, DialogView& view);
    static Dialog& GetSingleton();

    // Shows the window until it is closed; a second Run does nothing.
    void Run();
    // Closes the open window; does nothing when it is not open.
    void Close();
    // The error's message, then Close.
    void ShowError(TransferError error);
    // A message under the error title, then Close.
    void ShowMessage(const std::string& text);

    void OnProgress(const TransferStatus& status) override;
    void OnInitialized(const TransferStatus& status) override;
    void OnError(const TransferStatus& status) override;
    void OnEnd(const TransferStatus& status) override;

    void OnInitialize() override;
    void OnOk(int selected) override;
    void OnCancel() override;

private:
    std::string DisplayName();
    void RefreshTexts();
    void StartTransfers();
    // Reports one transfer's creation; false (after the error) when it failed.
    bool Created(const TransferStatus& status);
    bool IsOpen();
    void LaunchPackage(const std::string& packageRun, const std::string& skinRun);
    // The status while the package is being prepared: which host it is
    // contacting, and whether it has been waiting for it a while.
    void ShowInitializing(const TransferStatus& status);
    // The bytes done of the total and the speed.
    std::string Amounts(const TransferStatus& status);

    std::mutex mutex_;
    TransferContract& service_;
    TransferMonitorImpl& monitor_;
    file::posix::FilesystemImpl fileSystem_;
    locale::SimpleLocale& locale_;
    const UpdaterConfiguration configuration_;
    UpdaterMessages& messages_;
    DialogView& view_;
    PackageLauncher::ProcessFactory processFactory_;
    const Clock clock_;
    // The hosts the package's preparation waits on: the manifest host, then
    // the geolocation service.
    const std::string manifestHost_;
    const std::string geolocationHost_;

    // Guarded by mutex_.
    bool running_ = false;
    bool window_ = false;  // open: initialized and not yet closed
    bool closed_ = false;  // closed once; it never opens again
    bool started_ = false;
    bool launched_ = false;
    std::string packageTransferId_;
    std::string skinTransferId_;

    // Monitor thread only.
    std::string packageRun_;
    std::string skinRun_;
    bool packageComplete_ = false;
    bool skinComplete_ = false;
    // The host the status names and since when.
    std::string contacting_;
    std::chrono::steady_clock::time_point contactingSince_;
};

// The texts the window adds to the product's: what it is doing before the
// download begins, and the amounts and speed beside the time remaining.
inline constexpr const char* kConnectingText = "Connecting to {1}";
inline constexpr const char* kWaitingText = "Waiting for {1}";
inline constexpr const char* kAmountsText = "{1} of {2} ({3}/s)";

// The host (and port) of a URL: what lies between "//" and the next "/";
// the text itself when it has no "//".
std::string HostOfUrl(const std::string& url);

// The bar's position for completed of total bytes: truncated percent, 0 when
// the total is not known yet, never above 100.
int ProgressPercent(std::uint64_t completed, std::uint64_t total);

}  // namespace vrexa::updater
