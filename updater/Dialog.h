#pragma once

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
    // Nothing is owned; everything must outlive the dialog's use.
    // processFactory starts the package (the platform's by default).
    Dialog(TransferContract& service, TransferMonitorImpl& monitor, locale::SimpleLocale& locale,
           const UpdaterConfiguration& configuration, UpdaterMessages& messages, DialogView& view,
           PackageLauncher::ProcessFactory processFactory = nullptr);

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

    std::mutex mutex_;
    TransferContract& service_;
    TransferMonitorImpl& monitor_;
    file::posix::FilesystemImpl fileSystem_;
    locale::SimpleLocale& locale_;
    const UpdaterConfiguration configuration_;
    UpdaterMessages& messages_;
    DialogView& view_;
    PackageLauncher::ProcessFactory processFactory_;

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
};

// The bar's position for completed of total bytes: truncated percent, 0 when
// the total is not known yet, never above 100.
int ProgressPercent(std::uint64_t completed, std::uint64_t total);

}  // namespace vrexa::updater
