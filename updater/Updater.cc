#include "updater/Updater.h"

#include "file/posix/FilesystemImpl.h"
#include "locale/CustomBoostLocale.h"
#include "service/TransferContract.h"
#include "service/TransferMonitorImpl.h"
#include "updater/Dialog.h"
#include "updater/posix/InstanceLock.h"
#include "process/posix/SignalWatcher.h"

namespace vrexa::updater {

int Updater::Run(const ResourceTable& resources, const UpdaterConfiguration& configuration, DialogView& view,
                 const ServiceFactory& makeService, std::ostream& notes) {
    try {
        UpdaterMessages& messages = GetMessages();
        locale::EmbeddedMessageCatalog catalog(messages.GetCatalogDomain(),
                                               [&resources](int id) { return resources.FindCatalog(id); });
        RegisterCatalogs(catalog);
        locale::CustomBoostLocale locale(catalog, "");
        if (!configuration.languages.empty()) locale.SetLocale(configuration.GetInitialLocale());

        // The lock comes before the service, whose start already writes into
        // the data folder (its log, its stored transfers at the end).
        file::posix::FilesystemImpl fileSystem;
        const bool folderReady = fileSystem.SafeEnsureDirectories(configuration.GetDataFolder());
        posix::InstanceLock lock;
        if (folderReady && !lock.Acquire(configuration.GetDataFolder())) {
            notes << "orbiq-update: another updater is already running for " << configuration.GetDataFolder()
                  << "; this one ends.\n";
            return 0;
        }

        std::unique_ptr<TransferContract> service = makeService(configuration.MakeBehavior());
        auto monitor = std::make_unique<TransferMonitorImpl>(service.get());
        monitor->Start();
        Dialog& dialog = Dialog::CreateSingleton(*service, *monitor, locale, configuration, messages, view);
        {
            process::posix::SignalWatcher signals(process::posix::SignalWatcher::kCloseSignals,
                                                  [&dialog](int, int) { dialog.OnCancel(); });
            if (folderReady) {
                dialog.Run();
            } else {
                dialog.ShowError(TransferError::FileAccessError);
            }
        }
        // No poll may reach a service that is gone.
        monitor.reset();
        // Unfinished transfers are suspended (or cancelled, if never started)
        // and their analytics sent before the service is gone.
        service.reset();
    } catch (const std::exception& error) {
        notes << "orbiq-update: " << error.what() << "\n";
    } catch (...) {
        notes << "orbiq-update: unexpected failure\n";
    }
    return 0;
}

}  // namespace vrexa::updater
