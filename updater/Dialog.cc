#include "updater/Dialog.h"

#include <stdexcept>
#include <vector>

#include "service/TransferContract.h"
#include "service/TransferMonitorImpl.h"

namespace vrexa::updater {

namespace {

std::unique_ptr<Dialog>& SingletonSlot() {
    static std::unique_ptr<Dialog> slot;
    return slot;
}

std::mutex& SingletonMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::string HostOfUrl(const std::string& url) {
    const std::size_t slashes = url.find("//");
    if (slashes == std::string::npos) return url;
    const std::size_t begin = slashes + 2;
    const std::size_t end = url.find_first_of("/?#", begin);
    std::string authority = url.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    // Credentials are never shown.
    const std::size_t at = authority.rfind('@');
    return at == std::string::npos ? authority : authority.substr(at + 1);
}

int ProgressPercent(std::uint64_t completed, std::uint64_t total) {
    if (total == 0) return 0;
    const double percent = static_cast<double>(completed) * 100.0 / static_cast<double>(total);
    return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

Dialog::Dialog(TransferContract& service, TransferMonitorImpl& monitor, locale::SimpleLocale& locale,
               const UpdaterConfiguration& configuration, UpdaterMessages& messages, DialogView& view,
               PackageLauncher::ProcessFactory processFactory, Clock clock)
    : service_(service),
      monitor_(monitor),
      locale_(locale),
      configuration_(configuration),
      messages_(messages),
      view_(view),
      processFactory_(std::move(processFactory)),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      manifestHost_(configuration.MakeBehavior().manifestHost),
      geolocationHost_(HostOfUrl(configuration.MakeBehavior().geolocationUrl)) {}

Dialog& Dialog::CreateSingleton(TransferContract& service, TransferMonitorImpl& monitor, locale::SimpleLocale& locale,
                                const UpdaterConfiguration& configuration, UpdaterMessages& messages,
                                DialogView& view) {
    std::lock_guard<std::mutex> guard(SingletonMutex());
    auto& slot = SingletonSlot();
    if (slot) throw std::logic_error("Dialog::CreateSingleton called multiple times");
    slot = std::make_unique<Dialog>(service, monitor, locale, configuration, messages, view);
    return *slot;
}

Dialog& Dialog::GetSingleton() {
    std::lock_guard<std::mutex> guard(SingletonMutex());
    auto& slot = SingletonSlot();
    if (!slot) throw std::logic_error("Dialog::GetSingleton called without CreateSingleton");
    return *slot;
}

std::string Dialog::DisplayName() { return configuration_.GetDisplayName(locale_.GetName()); }

bool Dialog::IsOpen() {
    std::lock_guard<std::mutex> guard(mutex_);
    return window_;
}

void Dialog::Run() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (running_) return;
        running_ = true;
    }
    view_.RunModal(*this);
    // Whatever ended the loop, the window is gone: later reports find no
    // window to update.
    std::lock_guard<std::mutex> guard(mutex_);
    window_ = false;
    closed_ = true;
}

void Dialog::Close() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!running_ || !window_) return;
        window_ = false;
        closed_ = true;
    }
    view_.EndModal();
}

void Dialog::OnCancel() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        window_ = false;
        closed_ = true;
    }
    // Also before the window opened: the loop then ends as soon as it begins.
    view_.EndModal();
}

void Dialog::ShowError(TransferError error) { ShowMessage(locale_.Translate(messages_.GetErrorMessage(error))); }

void Dialog::ShowMessage(const std::string& text) {
    view_.ShowMessage(locale_.Format(messages_.GetErrorTitle(), DisplayName()), text);
    Close();
}

void Dialog::RefreshTexts() {
    view_.SetTitle(locale_.Format(messages_.GetTitle(), DisplayName()));
    view_.SetStatusText(locale_.FormatTimeRemaining(-1));
}

void Dialog::OnInitialize() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (closed_) return;
        window_ = true;
    }
    RefreshTexts();
    if (configuration_.languages.empty()) {
        StartTransfers();
        return;
    }
    std::vector<std::string> names;
    for (const auto& language : configuration_.languages)
        names.push_back(language.second);
    view_.ShowLanguageChoice(names);
}

void Dialog::OnOk(int selected) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        // The transfers start once, however often OK arrives.
        if (started_ || !window_) return;
    }
    if (selected >= 0 && static_cast<std::size_t>(selected) < configuration_.languages.size()) {
        locale_.SetLocale(configuration_.languages[static_cast<std::size_t>(selected)].first);
    }
    RefreshTexts();
    StartTransfers();
}

bool Dialog::Created(const TransferStatus& status) {
    if (!status.transferId.empty()) return true;
    // Without an id nothing would ever report on it: the window would wait
    // for progress that never comes.
    ShowError(status.error == TransferError::None ? TransferError::Unknown : status.error);
    return false;
}

void Dialog::StartTransfers() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (started_) return;
        started_ = true;
    }
    view_.ShowProgress();
    // The package is always the current version; the configured versions
    // reach only the launched package's command line.
    const TransferStatus package =
        service_.Transfer(configuration_.GetPackagePartnerId(), configuration_.GetPackageId());
    if (!Created(package)) return;
    const TransferStatus skin =
        service_.Transfer(configuration_.GetSkinPartnerId(), configuration_.GetSkinPackageId(locale_.GetName()),
                          configuration_.GetSkinVersion());
    if (!Created(skin)) return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        packageTransferId_ = package.transferId;
        skinTransferId_ = skin.transferId;
    }
    monitor_.AddCallback(package.transferId, this);
    monitor_.AddCallback(skin.transferId, this);
}

void Dialog::OnProgress(const TransferStatus& status) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!running_ || !window_) return;
        if (status.transferId != packageTransferId_) return;
    }
    if (status.error != TransferError::None) return;
    if (status.state == TransferState::Initializing) {
        ShowInitializing(status);
        return;
    }
    if (status.state != TransferState::Transferring) return;
    view_.SetProgress(ProgressPercent(status.completedBytes, status.totalBytes));
    view_.SetStatusText(locale_.FormatTimeRemaining(status.secondsRemaining));
    view_.SetDetailText(status.totalBytes > 0 ? Amounts(status) : std::string());
}

void Dialog::ShowInitializing(const TransferStatus& status) {
    // The version is known once the package manifest has arrived; the
    // geolocation is asked for after it.
    const bool manifestKnown = !status.versionId.empty() && status.versionId != "?";
    const std::string& host = manifestKnown ? geolocationHost_ : manifestHost_;
    if (host.empty()) return;
    const auto now = clock_();
    if (host != contacting_) {
        contacting_ = host;
        contactingSince_ = now;
    }
    const bool waiting = now - contactingSince_ >= kConnectingTime;
    view_.SetStatusText(locale_.FormatRaw(waiting ? kWaitingText : kConnectingText, host));
}

std::string Dialog::Amounts(const TransferStatus& status) {
    std::string text = locale_.Translate(kAmountsText);
    // A translation that lost a placeholder would show a wrong number.
    if (!locale::SamePlaceholders(kAmountsText, text)) text = kAmountsText;
    text = locale::ReplaceAll(text, "{1}", locale_.FormatSize(status.completedBytes));
    text = locale::ReplaceAll(text, "{2}", locale_.FormatSize(status.totalBytes));
    return locale::ReplaceAll(text, "{3}", locale_.FormatSize(status.rate));
}

void Dialog::OnInitialized(const TransferStatus& status) {
    std::string skinId;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        // A closed window ends the run: nothing more is started.
        if (closed_) return;
        skinId = skinTransferId_;
    }
    const std::string destination =
        status.transferId == skinId ? configuration_.GetSkinFolder(locale_.GetName()) : configuration_.GetDataFolder();
    if (!fileSystem_.SafeEnsureDirectories(destination)) {
        ShowError(TransferError::FileAccessError);
        return;
    }
    service_.Start(status.transferId, destination);
    monitor_.AddCallback(status.transferId, this);
}

void Dialog::OnError(const TransferStatus& status) { OnEnd(status); }

void Dialog::OnEnd(const TransferStatus& status) {
    std::string packageId, skinId;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        packageId = packageTransferId_;
        skinId = skinTransferId_;
    }
    const bool isPackage = status.transferId == packageId;
    if (!isPackage && status.transferId != skinId) return;
    if (status.error != TransferError::None) {
        ShowError(status.error);
        return;
    }
    if (status.state != TransferState::Complete) {
        // A transfer that stops without error and without finishing, while the
        // user is still watching, would otherwise leave the window waiting
        // for ever. After a close it is the expected end of the run.
        if (IsOpen()) ShowError(TransferError::Unknown);
        return;
    }
    // Nothing is left to resume: the stored entry goes, the files stay (a
    // cancel of a complete transfer removes only the entry).
    service_.Cancel(status.transferId, false);
    if (isPackage) {
        packageComplete_ = true;
        packageRun_ = status.run;
    } else {
        skinComplete_ = true;
        skinRun_ = status.run;
    }
    if (!packageComplete_ || !skinComplete_) return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        // The user closed the window: they no longer want the package started.
        if (!window_ || launched_) return;
        launched_ = true;
    }
    LaunchPackage(packageRun_, skinRun_);
}

void Dialog::LaunchPackage(const std::string& packageRun, const std::string& skinRun) {
    view_.ShowLaunching(locale_.Format(messages_.GetLaunchingText(), DisplayName()));
    PackageLauncher launcher(configuration_, locale_, packageRun, skinRun, processFactory_);
    if (launcher.Launch()) {
        Close();
    } else {
        ShowMessage(locale_.Format(messages_.GetLaunchFailedText(), DisplayName()));
    }
}

}  // namespace vrexa::updater
