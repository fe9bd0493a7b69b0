// orbiq-update: downloads the configured package and its skin, then starts
// the package. Always ends with exit code 0: what went wrong is shown to the
// user, in the window or on the terminal.
#include <gtk/gtk.h>

#include <iostream>
#include <memory>

#include "file/posix/FilesystemImpl.h"
#include "service/TransferService.h"
#include "updater/ConfigurationReader.h"
#include "updater/Environment.h"
#include "updater/FrontEnd.h"
#include "updater/ProgramResources.h"
#include "updater/StringTable.h"
#include "updater/gtk/GtkView.h"
#include "updater/orbiq/OrbiqUpdater.h"
#include "updater/posix/FileRegistry.h"
#include "process/posix/SignalWatcher.h"
#include "updater/tty/TerminalView.h"

namespace {

constexpr const char* kDataFolderName = "Tembrik/Orbiq Update/LTX";
constexpr int kIconId = 111;

int RunUpdater(int argc, char** argv) {
    using namespace vrexa::updater;
    const Environment overrides = OverrideEnvironment();
    const ResourceTable resources = LoadProgramResources(overrides);
    posix::FileRegistry registry(posix::FileRegistry::RootFor(overrides));
    vrexa::file::posix::FilesystemImpl fileSystem;
    UpdaterConfiguration configuration =
        ConfigurationReader(resources, registry, fileSystem, overrides).Read(kDataFolderName, argc, argv);
    configuration.elevateLaunch = false;

    // The desktop matches the window to the installed entry and its icon by
    // this name, whatever the file was called.
    g_set_prgname("orbiq-update");
    // GTK sees only the program name: the command line is the updater's own.
    int gtkArgc = 1;
    char* gtkArgv[] = {argv != nullptr && argc > 0 ? argv[0] : const_cast<char*>("orbiq-update"), nullptr};
    char** gtkArgvPointer = gtkArgv;
    const FrontEnd frontEnd = ChooseFrontEnd(
        configuration.userInterface, [&] { return gtk_init_check(&gtkArgc, &gtkArgvPointer) == TRUE; }, std::cerr);
    std::unique_ptr<DialogView> view;
    if (frontEnd == FrontEnd::Window) {
        view = std::make_unique<gtk::GtkView>(std::cerr, resources.FindIcon(kIconId));
    } else {
        view = std::make_unique<tty::TerminalView>(tty::TerminalView::ProcessStreams());
    }

    orbiq::OrbiqUpdater updater;
    return updater.Run(
        resources, configuration, *view,
        [](const vrexa::TransferBehavior& behavior) { return std::make_unique<vrexa::TransferService>(behavior); },
        std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits it and an end
    // signal reaches only the watcher, which closes the window.
    vrexa::process::posix::SignalWatcher::Block(vrexa::process::posix::SignalWatcher::kEndSignals);
    try {
        RunUpdater(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "orbiq-update: " << error.what() << "\n";
    } catch (...) {
        std::cerr << "orbiq-update: unexpected failure\n";
    }
    return 0;
}
