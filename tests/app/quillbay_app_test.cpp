#include "app/quillbay_app.h"

#include "app/app_settings.h"
#include "app/app_state.h"
#include "app/crash_log_manager.h"
#include "app/fake_alert_presenter.h"
#include "core/device/device_fakes.h"
#include "core/device/mtp_device_manager.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/fake_desktop_url_opener.h"
#include "platform/scripted_process_runner.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qb {
namespace {

const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::QtApplicationEnvironment);

// A QuillbayApp over fakes: no USB bus, settings in a temporary folder, recorded start-up steps.
class QuillbayAppTest : public ::testing::Test
{
protected:
    QuillbayApp::Options options(QStringList& steps)
    {
        QuillbayApp::Options options;
        options.preferences =
            std::make_shared<QSettingsPreferenceStore>(m_dir.filePath(QStringLiteral("prefs.ini")));
        options.processRunner = std::make_shared<ScriptedProcessRunner>();
        options.alerts = m_alerts;
        options.urlOpener = std::make_shared<FakeDesktopUrlOpener>();
        options.installCrashGuard = false;
        options.trace = [&steps](const QString& step) {
            steps.append(step);
        };
        options.makeDeviceList = [this, &steps](DeviceListViewModel::ProviderInstaller install) {
            auto manager = std::make_unique<MTPDeviceManager>(
                m_lister, std::make_unique<test::FakeHotplugSource>(m_hotplugLog));
            return std::make_unique<DeviceListViewModel>(
                std::move(manager), std::make_shared<test::FakeRepositoryFactory>(),
                [&steps, install](RepositoryProvider provider) {
                    steps.append(QStringLiteral("repositoryProviderInstalled"));
                    install(std::move(provider));
                });
        };
        options.makeWiFiServer = [](WiFiServerBackend& backend) {
            // Real sockets on loopback, but no DNS-SD daemon.
            return std::make_unique<WiFiAdvertiser>(backend, nullptr);
        };
        return options;
    }

    QTemporaryDir m_dir;
    std::shared_ptr<FakeAlertPresenter> m_alerts = std::make_shared<FakeAlertPresenter>();
    std::shared_ptr<test::FakeDeviceLister> m_lister = std::make_shared<test::FakeDeviceLister>();
    std::shared_ptr<QStringList> m_hotplugLog = std::make_shared<QStringList>();
};

TEST_F(QuillbayAppTest, BuildsTheLongLivedObjectsInOrderAndTheCrashGuardOnce)
{
    QStringList steps;
    QuillbayApp::Options firstOptions = options(steps);
    firstOptions.installCrashGuard = true;
    auto app = std::make_unique<QuillbayApp>(std::move(firstOptions));
    // The device list hands the engine its provider while it is built.
    EXPECT_EQ(steps, (QStringList{QStringLiteral("appState"), QStringLiteral("transferQueueActor"),
                                  QStringLiteral("transferQueueViewModel"),
                                  QStringLiteral("repositoryProviderInstalled"),
                                  QStringLiteral("deviceListViewModel"), QStringLiteral("settings"),
                                  QStringLiteral("crashGuard"), QStringLiteral("wifiServer")}));
    EXPECT_TRUE(CrashLogManager::isInstalled());
    ASSERT_NE(app->appState().settings(), nullptr);
    EXPECT_EQ(app->appState().settings()->theme(), AppTheme::System);
    // USB monitoring waits for the sidebar.
    EXPECT_FALSE(app->appState().deviceListViewModel()->isMonitoring());
    EXPECT_TRUE(m_hotplugLog->isEmpty());
    // Phones can reach the computer before any window shows.
    ASSERT_NE(app->wifiServer(), nullptr);
    EXPECT_TRUE(app->wifiServer()->isRunning());
    EXPECT_TRUE(app->wifiServer()->port().has_value());

    QStringList secondSteps;
    QuillbayApp::Options secondOptions = options(secondSteps);
    secondOptions.installCrashGuard = true;
    auto second = std::make_unique<QuillbayApp>(std::move(secondOptions));
    EXPECT_FALSE(secondSteps.contains(QStringLiteral("crashGuard")));

    // The heartbeat runs on the GUI thread of the one installation.
    const quint64 beats = CrashLogManager::heartbeatCount();
    ASSERT_TRUE(test::waitUntil([&] { return CrashLogManager::heartbeatCount() > beats; }));
    second.reset();
    app.reset();
    EXPECT_TRUE(m_alerts->presented.isEmpty());
}

TEST_F(QuillbayAppTest, ShutdownTakesEverythingDownOnceInOrder)
{
    QStringList steps;
    QuillbayApp app(options(steps));
    AppState& state = app.appState();
    QStringList destroyed;
    QObject::connect(state.deviceListViewModel(), &QObject::destroyed,
                     [&] { destroyed.append(QStringLiteral("deviceList")); });
    QObject::connect(state.transferQueueViewModel(), &QObject::destroyed,
                     [&] { destroyed.append(QStringLiteral("transferQueue")); });
    QObject::connect(state.settings(), &QObject::destroyed,
                     [&] { destroyed.append(QStringLiteral("settings")); });
    state.deviceListViewModel()->startMonitoring();
    ASSERT_TRUE(m_hotplugLog->contains(QStringLiteral("start")));
    const quint16 port = app.wifiServer()->port().value_or(0);
    ASSERT_NE(port, 0);

    app.shutdown();
    EXPECT_EQ(app.wifiServer(), nullptr);
    QTcpSocket late;
    late.connectToHost(QStringLiteral("127.0.0.1"), port);
    EXPECT_FALSE(late.waitForConnected(2000)) << "still accepting after shutdown";
    EXPECT_EQ(destroyed, (QStringList{QStringLiteral("deviceList"), QStringLiteral("transferQueue"),
                                      QStringLiteral("settings")}));
    EXPECT_TRUE(m_hotplugLog->contains(QStringLiteral("stop")));
    EXPECT_EQ(state.deviceListViewModel(), nullptr);
    app.shutdown();
    EXPECT_EQ(destroyed.size(), 3);
}

} // namespace
} // namespace qb
