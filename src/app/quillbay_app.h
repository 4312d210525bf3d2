#pragma once

#include "app/alert_presenter.h"
#include "core/device/device_list_view_model.h"
#include "wifi/history_file_writer.h"
#include "wifi/wifi_advertiser.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace qb {

class AppState;
class MailHelper;
class PreferenceStore;
class ProcessRunner;
class RegistryServerBackend;
class TransferQueueActor;
class WiFiServerBackend;

// The application: builds everything that lives for the whole run, in a fixed order, and takes
// it down again in an orderly way. Lives on the GUI thread; QApplication must exist.
//
// Start-up order: the application state; the transfer engine; the transfer queue view model;
// the device list view model over the same engine (it installs the repository provider); the
// appearance settings; the crash guard (once per process); then the Wi-Fi server, before any
// window shows.
class QuillbayApp : public QObject
{
    Q_OBJECT

public:
    using DeviceListFactory = std::function<std::unique_ptr<DeviceListViewModel>(
        DeviceListViewModel::ProviderInstaller installProvider)>;
    using WiFiServerFactory =
        std::function<std::unique_ptr<WiFiAdvertiser>(WiFiServerBackend& backend)>;

    // What the process would otherwise take from the system; tests substitute their own.
    struct Options
    {
        std::shared_ptr<PreferenceStore> preferences; // the user's settings when null
        DeviceListFactory makeDeviceList;             // the USB bus when empty
        WiFiServerFactory makeWiFiServer;             // advertised by Avahi when empty
        std::shared_ptr<ProcessRunner> processRunner; // real processes when null
        std::shared_ptr<AlertPresenter> alerts;       // message boxes when null
        bool installCrashGuard = true;
        // How long quitting waits for finished downloads to be written to disk.
        std::chrono::milliseconds downloadCommitWait{10'000};
        // How long quitting waits for the Wi-Fi histories' last records, counted from its start:
        // the server's own waits for its disk and connections come first.
        std::chrono::milliseconds historyWait{HistoryFileWriter::kFlushWait};
        // Told the name of each start-up step as it completes.
        std::function<void(const QString& step)> trace;
    };

    explicit QuillbayApp(Options options, QObject* parent = nullptr);
    // What main() returns once the application object is gone. A phone that stopped answering
    // in the middle of a call holds its device thread, and the workers waiting for it, for up to
    // a minute, and a disk that stopped answering holds the files being written to it (or a
    // phone's connection thread, in a file that never opens): then the process ends at once with
    // `status`, leaving them to its end, instead of waiting for them or destroying what they still
    // use.
    static int finishProcess(int status);
    // Runs shutdown() if it has not run.
    ~QuillbayApp() override;

    AppState& appState() const { return *m_appState; }
    TransferQueueActor& transferActor() const { return *m_transferActor; }
    MailHelper& mailHelper() const { return *m_mailHelper; }
    PreferenceStore& preferences() const { return *m_preferences; }
    // Null once shut down.
    WiFiAdvertiser* wifiServer() const { return m_wifiServer.get(); }

    // The orderly quit, after the event loop has ended: stop serving phones, let the device
    // list and the engine finish or cancel their work, stop the crash guard's threads.
    void shutdown();

    // The default options of the application process (crash guard as the environment says).
    static Options processOptions();

    // What the window says when files this run needs cannot be used (each of `problems` names a
    // file or folder, why, and what it costs), with the one command that gives every one of
    // `paths` back to the user.
    static Alert unusableFilesAlert(const QStringList& problems, const QStringList& paths);
    // The command that gives `paths`, and all they hold, back to this user; safe to paste
    // whatever the paths hold.
    static QString giveBackCommand(const QStringList& paths);

private:
    void step(const QString& name);
    void checkFiles();
    void presentUnusableFiles(const QStringList& problems, const QStringList& paths);
    void settingsNotSaved();

    Options m_options;
    std::shared_ptr<PreferenceStore> m_preferences;
    std::shared_ptr<AlertPresenter> m_alerts;
    std::unique_ptr<TransferQueueActor> m_transferActor;
    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<MailHelper> m_mailHelper;
    std::unique_ptr<RegistryServerBackend> m_serverBackend;
    std::unique_ptr<WiFiAdvertiser> m_wifiServer;
    bool m_ownsCrashGuard = false;
    bool m_shutDown = false;
    bool m_toldSettingsFile = false;
};

} // namespace qb
