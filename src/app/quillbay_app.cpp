#include "app/quillbay_app.h"

#include "app/app_settings.h"
#include "app/app_state.h"
#include "app/crash_log_manager.h"
#include "app/mail_helper.h"
#include "app/message_box_alert_presenter.h"
#include "core/device/serial_executor.h"
#include "core/transfer/commit_step.h"
#include "core/transfer/transfer_queue_actor.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/app_paths.h"
#include "platform/avahi_dns_sd_publisher.h"
#include "platform/local_files.h"
#include "platform/logger.h"
#include "platform/preference_store.h"
#include "platform/qprocess_runner.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/registry_server_backend.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qb {

namespace {

// How long quitting waits for the histories' last records however long it waited before.
constexpr std::chrono::milliseconds kLeastHistoryWait{2'000};

} // namespace

QuillbayApp::QuillbayApp(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options))
{
    m_preferences = m_options.preferences ? m_options.preferences
                                          : std::make_shared<QSettingsPreferenceStore>();
    m_alerts = m_options.alerts ? m_options.alerts : std::make_shared<MessageBoxAlertPresenter>();
    std::shared_ptr<ProcessRunner> runner =
        m_options.processRunner ? m_options.processRunner : std::make_shared<QProcessRunner>();

    m_appState = std::make_unique<AppState>();
    step(QStringLiteral("appState"));

    // Copies that a crash or a forced quit left in the cache folder; nothing of this run uses them.
    QThreadPool::globalInstance()->start([] { LocalFiles::removeStaleTemporaryFolders(); });

    TransferQueueActor::Options engineOptions;
    engineOptions.preferences = m_options.preferences; // the engine's own default when null
    engineOptions.commitShutdownWait = m_options.downloadCommitWait;
    m_transferActor = std::make_unique<TransferQueueActor>(engineOptions);
    step(QStringLiteral("transferQueueActor"));

    m_appState->setTransferQueueViewModel(new TransferQueueViewModel(*m_transferActor));
    step(QStringLiteral("transferQueueViewModel"));

    // The device list hands the engine its repository provider while it is built.
    auto installProvider = [self = QPointer<QuillbayApp>(this)](RepositoryProvider provider) {
        if (self && self->m_transferActor)
            self->m_transferActor->setRepositoryProvider(std::move(provider));
    };
    std::unique_ptr<DeviceListViewModel> deviceList =
        m_options.makeDeviceList ? m_options.makeDeviceList(std::move(installProvider))
                                 : DeviceListViewModel::create(std::move(installProvider),
                                                               MTPClient::Options{runner, {}});
    m_appState->setDeviceListViewModel(deviceList.release());
    step(QStringLiteral("deviceListViewModel"));

    m_appState->setSettings(new AppSettings(*m_preferences));
    step(QStringLiteral("settings"));

    if (m_options.installCrashGuard && CrashLogManager::install(*m_alerts)) {
        m_ownsCrashGuard = true;
        step(QStringLiteral("crashGuard"));
    }

    // Phones may reach the computer before any window shows, whatever the consent state. A
    // server that cannot listen logs why; start-up goes on.
    m_serverBackend = std::make_unique<RegistryServerBackend>(
        WiFiPeerRegistry::shared(), PendingOutgoingFilesRegistry::shared(),
        ReceivedFilesRegistry::shared(), SentFilesRegistry::shared());
    m_wifiServer = m_options.makeWiFiServer
                       ? m_options.makeWiFiServer(*m_serverBackend)
                       : std::make_unique<WiFiAdvertiser>(*m_serverBackend,
                                                          std::make_unique<AvahiDnsSdPublisher>());
    m_wifiServer->start();
    step(QStringLiteral("wifiServer"));

    checkFiles();

    m_mailHelper = std::make_unique<MailHelper>(runner, *m_alerts,
                                                [] { return CrashLogManager::writeCrashReport(); });
}

QuillbayApp::~QuillbayApp()
{
    shutdown();
}

void QuillbayApp::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // The histories' last records share the server's wait for the disk, which starts now.
    const QDeadlineTimer diskDeadline(m_options.historyWait);
    m_mailHelper.reset();
    // No new connections, and the open ones end, before the registries' users go away.
    if (m_wifiServer)
        m_wifiServer->stop();
    m_wifiServer.reset();
    // An upload still waiting for its disk records itself through the backend when it is done;
    // a connection left running may still ask the registries through it. What the others posted
    // is in the registries all the same before their last saves below.
    if (WiFiAdvertiser::commitsLeftRunning() || WiFiAdvertiser::connectionsLeftRunning()) {
        m_serverBackend->applyPosted();
        (void)m_serverBackend.release();
    }
    m_serverBackend.reset();
    // A server that waited out a stuck disk or connection has used that wait up; the pairings and
    // histories, whose own disk may well answer, still get a moment for what came before and
    // during it.
    const QDeadlineTimer historyDeadline =
        std::max(diskDeadline, QDeadlineTimer(kLeastHistoryWait));
    WiFiPeerRegistry::shared().save(historyDeadline);
    ReceivedFilesRegistry::shared().save(historyDeadline);
    SentFilesRegistry::shared().save(historyDeadline);
    if (auto* devices = m_appState->deviceListViewModel())
        devices->stopMonitoring();
    // The view models go before the engine they watch; the engine then waits (for a while) for
    // the operations still running, and their phones' threads finish their current call.
    m_appState->release();
    m_transferActor.reset();
    if (m_ownsCrashGuard)
        CrashLogManager::shutdown();
}

int QuillbayApp::finishProcess(int status)
{
    constexpr int settleMs = 500;
    if (CommitStep::leftRunning() || WiFiAdvertiser::commitsLeftRunning() ||
        WiFiAdvertiser::connectionsLeftRunning() || HistoryFileWriter::writesLeftRunning()) {
        Logger::transfer().warning(
            QStringLiteral("A disk is not answering; quitting without waiting for it"));
        std::fflush(nullptr);
        ::_exit(status);
    }
    const bool devicesIdle = SerialExecutor::waitForRetiredThreads(settleMs);
    if (devicesIdle && QThreadPool::globalInstance()->waitForDone(settleMs))
        return status;
    Logger::mtp().warning(
        QStringLiteral("A phone is not answering; quitting without waiting for it"));
    std::fflush(nullptr);
    ::_exit(status);
}

namespace {

// Why this user cannot write the existing file or folder at `path`; empty when it can, or when
// nothing is there.
QString writeProblem(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status
    {};
    if (::stat(name.constData(), &status) != 0)
        return {};
    if (::access(name.constData(), W_OK) == 0)
        return {};
    const QString why = LocalFiles::errnoText(errno);
    return why + LocalFiles::foreignOwnerNote(path);
}

// Whether the file or folder at `path`, or one of the `names` in it, is another user's.
bool ownedByOthers(const QString& path, const QStringList& names = {})
{
    if (!LocalFiles::foreignOwnerNote(path).isEmpty())
        return true;
    return std::any_of(names.cbegin(), names.cend(), [&path](const QString& name) {
        return !LocalFiles::foreignOwnerNote(path + u'/' + name).isEmpty();
    });
}

// What keeps the settings file `settings` from being written: the nearest folder above it that
// is there, where it is written as a new file and renamed (its missing folders made first), or
// else the file itself; `*why` says why, or is empty when nothing does.
QString settingsObstacle(const QString& settings, QString* why)
{
    QString folder = QFileInfo(settings).absolutePath();
    while (!QFileInfo::exists(folder) && QFileInfo(folder).absolutePath() != folder)
        folder = QFileInfo(folder).absolutePath();
    *why = writeProblem(folder);
    if (!why->isEmpty())
        return folder;
    *why = writeProblem(settings);
    return settings;
}

} // namespace

void QuillbayApp::checkFiles()
{
    // What a run as another user (sudo -E) leaves behind: saved data this run cannot use is left
    // alone; files from phones and changed settings could not be kept. The user hears of all of
    // it at once, over the window.
    QStringList problems;
    QStringList paths;
    QStringList dataProblems;
    for (const QString& problem :
         {WiFiPeerRegistry::shared().fileProblem(), ReceivedFilesRegistry::shared().fileProblem(),
          SentFilesRegistry::shared().fileProblem()}) {
        if (!problem.isEmpty() && !dataProblems.contains(problem))
            dataProblems << problem;
    }
    if (!dataProblems.isEmpty()) {
        problems << dataProblems.join(QStringLiteral("\n\n")) +
                        QStringLiteral("\n\nQuillbay leaves its saved pairings and history exactly "
                                       "as they are and saves nothing over them while it runs, so "
                                       "paired phones may have to pair again and new transfers "
                                       "are not kept in the history.");
        const QString folder = AppPaths::dataFolder();
        if (ownedByOthers(folder,
                          {QStringLiteral("wifi_peers.json"), QStringLiteral("received_files.json"),
                           QStringLiteral("sent_files.json")}))
            paths << folder;
    }
    const QString received = AppPaths::receivedFilesFolder();
    if (const QString why = writeProblem(received); !why.isEmpty()) {
        problems << QStringLiteral("The folder \u201c%1\u201d, where files from phones are "
                                   "received, cannot be written (%2). Files that phones send "
                                   "cannot be received.")
                        .arg(QDir::toNativeSeparators(received), why);
        if (ownedByOthers(received))
            paths << received;
    }
    if (const QString settings = m_preferences->location(); !settings.isEmpty()) {
        QString why;
        const QString path = settingsObstacle(settings, &why);
        if (!why.isEmpty()) {
            problems << QStringLiteral("\u201c%1\u201d cannot be written (%2). Settings you change "
                                       "are lost when Quillbay quits.")
                            .arg(QDir::toNativeSeparators(path), why);
            if (ownedByOthers(path))
                paths << path;
            m_toldSettingsFile = true;
        }
    }
    if (!problems.isEmpty())
        presentUnusableFiles(problems, paths);
    connect(m_preferences.get(), &PreferenceStore::saveFailed, this, &QuillbayApp::settingsNotSaved,
            Qt::QueuedConnection);
}

void QuillbayApp::presentUnusableFiles(const QStringList& problems, const QStringList& paths)
{
    const Alert alert = unusableFilesAlert(problems, paths);
    const Logger log(QStringLiteral("App"), true);
    if (paths.isEmpty())
        log.warning(QStringLiteral("%1: %2"), {alert.title, problems.join(u' ')});
    else
        log.warning(QStringLiteral("%1; to give them back to this user, run: %2"),
                    {alert.title, giveBackCommand(paths)});
    QTimer::singleShot(0, this, [this, alert] { m_alerts->present(alert); });
}

void QuillbayApp::settingsNotSaved()
{
    if (std::exchange(m_toldSettingsFile, true))
        return;
    const QString settings = m_preferences->location();
    QString why;
    const QString path = settingsObstacle(settings, &why);
    presentUnusableFiles({QStringLiteral("Settings cannot be saved in \u201c%1\u201d%2. Settings "
                                         "you change are lost when Quillbay quits.")
                              .arg(QDir::toNativeSeparators(settings),
                                   why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why))},
                         ownedByOthers(path) ? QStringList{path} : QStringList{});
}

QString QuillbayApp::giveBackCommand(const QStringList& paths)
{
    QStringList words = {QStringLiteral("sudo chown -R"),
                         LocalFiles::shellQuoted(LocalFiles::userName(::geteuid()) + u':')};
    for (const QString& path : paths)
        words << LocalFiles::shellQuoted(QDir::toNativeSeparators(path));
    return words.join(u' ');
}

Alert QuillbayApp::unusableFilesAlert(const QStringList& problems, const QStringList& paths)
{
    Alert alert;
    alert.title = QStringLiteral("Quillbay cannot use some of its files");
    // Giving files back helps only where another user owns them; a read-only disk, or a
    // folder of the user's own that refuses writing, needs another remedy.
    alert.message =
        problems.join(QStringLiteral("\n\n")) +
        (paths.isEmpty()
             ? QStringLiteral("\n\nCheck that the disk is not read-only and that your user may "
                              "write there, then quit Quillbay and start it again.")
             : QStringLiteral("\n\nThis happens after Quillbay was run as another user, for "
                              "example with sudo. To give them back to your user, run in a "
                              "terminal:\n\n%1\n\nthen quit Quillbay and start it again.")
                   .arg(giveBackCommand(paths)));
    alert.buttons = {QStringLiteral("OK")};
    return alert;
}

QuillbayApp::Options QuillbayApp::processOptions()
{
    Options options;
    options.installCrashGuard = CrashLogManager::enabledByEnvironment();
    return options;
}

void QuillbayApp::step(const QString& name)
{
    if (m_options.trace)
        m_options.trace(name);
}

} // namespace qb
