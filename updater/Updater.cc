#include "updater/Updater.h"

#include <unistd.h>

#include <atomic>

#include <boost/filesystem/path.hpp>

#include "file/posix/FilesystemImpl.h"
#include "file/posix/PrivateFolder.h"
#include "locale/CustomBoostLocale.h"
#include "service/TransferContract.h"
#include "service/TransferMonitorImpl.h"
#include "updater/Dialog.h"
#include "updater/posix/InstanceLock.h"
#include "process/posix/SignalWatcher.h"

namespace vrexa::updater {

namespace {

// The data folder holds stored transfers with their destinations, logs and
// the package itself: it is made this user's alone, and one that is a link or
// someone else's is a storage problem, never used. The folders from the
// user's cache folder down are checked, not just the last.
bool EnsurePrivateDataFolder(file::Filesystem& filesystem, const std::string& dataFolder) {
    try {
        const boost::filesystem::path folder(dataFolder);
        if (!folder.is_absolute()) return false;
        const std::string temp = filesystem.GetTempFolder();
        if (!temp.empty() && dataFolder.size() > temp.size() + 1 && dataFolder.compare(0, temp.size(), temp) == 0 &&
            dataFolder[temp.size()] == '/') {
            file::posix::EnsurePrivateFolder(temp, dataFolder.substr(temp.size() + 1));
        } else {
            file::posix::EnsurePrivateFolder(folder.parent_path().string(), folder.filename().string());
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The user insisted: the window is gone or going, and nothing the teardown
// still waits for is worth more than doing what was asked.
[[noreturn]] void EndAtOnce(std::ostream& notes) {
    notes << "orbiq-update: closing at once\n" << std::flush;
    ::_exit(0);
}

}  // namespace

int Updater::Run(const ResourceTable& resources, const UpdaterConfiguration& configuration, DialogView& view,
                 const ServiceFactory& makeService, std::ostream& notes) {
    try {
        UpdaterMessages& messages = GetMessages();
        locale::EmbeddedMessageCatalog catalog(messages.GetCatalogDomain(),
                                               [&resources](int id) { return resources.FindCatalog(id); });
        RegisterCatalogs(catalog);
        locale::CustomBoostLocale locale(catalog, "");
        if (!configuration.languages.empty()) locale.SetLocale(configuration.GetInitialLocale());

        // From here to the end of the teardown every end signal is read: the
        // first closes the window (the transfers are then put away in order),
        // any later one, or any after the window has closed, ends the process
        // at once. The downloaded bytes are safe either way: stored entries
        // are replaced whole, and every chunk is checked again next time.
        std::atomic<Dialog*> signalled{nullptr};
        std::atomic<bool> closing{false};
        process::posix::SignalWatcher signals(process::posix::SignalWatcher::kEndSignals, [&](int, int) {
            if (closing.exchange(true)) EndAtOnce(notes);
            if (Dialog* dialog = signalled.load()) {
                dialog->OnCancel();
            } else {
                view.EndModal();
            }
        });

        // The lock comes before the service, whose start already writes into
        // the data folder (its log, its stored transfers at the end).
        file::posix::FilesystemImpl fileSystem;
        bool folderReady = EnsurePrivateDataFolder(fileSystem, configuration.GetDataFolder());
        posix::InstanceLock lock;
        const posix::InstanceLock::Result locked =
            folderReady ? lock.Acquire(configuration.GetDataFolder()) : posix::InstanceLock::Result::Unavailable;
        if (locked == posix::InstanceLock::Result::HeldElsewhere) {
            // Started again from a menu or a shortcut while the first one is
            // still at work: the user must learn why no window comes.
            const std::string name = configuration.GetDisplayName(locale.GetName());
            view.ShowMessage(locale.Format(messages.GetTitle(), name),
                             locale.Format(messages.GetAlreadyRunningText(), name));
            return 0;
        }
        // A lock file that cannot be used (a folder or a link where it
        // belongs, a folder we may not write) is a storage problem like a
        // data folder that cannot be made: the storage message, no download.
        folderReady = locked == posix::InstanceLock::Result::Acquired;

        TransferBehavior behavior = configuration.MakeBehavior();
        // A data folder that is not ours (a link, another user's) gets no
        // log written into it either: only the message is shown.
        if (!folderReady) behavior.logMask = 0;
        std::unique_ptr<TransferContract> service = makeService(behavior);
        auto monitor = std::make_unique<TransferMonitorImpl>(service.get());
        monitor->Start();
        Dialog& dialog = Dialog::CreateSingleton(*service, *monitor, locale, configuration, messages, view);
        signalled.store(&dialog);
        if (closing.load()) dialog.OnCancel();
        if (folderReady) {
            dialog.Run();
        } else {
            dialog.ShowError(TransferError::FileAccessError);
        }
        closing.store(true);
        // No poll may reach a service that is gone.
        monitor.reset();
        // Unfinished transfers are suspended (or cancelled, if never started)
        // and their analytics sent, within the service's shutdown timeout,
        // before the service is gone.
        service.reset();
    } catch (const std::exception& error) {
        notes << "orbiq-update: " << error.what() << "\n";
    } catch (...) {
        notes << "orbiq-update: unexpected failure\n";
    }
    return 0;
}

}  // namespace vrexa::updater
