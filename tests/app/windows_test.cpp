#include "app/about_window.h"
#include "app/app_settings.h"
#include "app/app_state.h"
#include "app/application_windows.h"
#include "app/consent_view.h"
#include "app/content_view.h"
#include "app/fake_app_options.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "app/quillbay_commands.h"
#include "app/settings_window.h"
#include "core/device/device_fakes.h"
#include "core/device/mtp_device_manager.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "documents/command_bus.h"
#include "support/test_support.h"

#include <QApplication>

#include <QAction>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace qb {
namespace {

const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::ApplicationEnvironment<QApplication>);

// The real windows over an application of fakes: no USB bus, no DNS-SD, settings in a
// temporary file.
class WindowsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QuillbayApp::Options options = test::fakeAppOptions(m_preferences);
        options.makeDeviceList = [this](DeviceListViewModel::ProviderInstaller install) {
            auto manager = std::make_unique<MTPDeviceManager>(
                std::make_shared<test::FakeDeviceLister>(),
                std::make_unique<test::FakeHotplugSource>(std::make_shared<QStringList>()));
            return std::make_unique<DeviceListViewModel>(std::move(manager), m_factory, install);
        };
        m_app = std::make_unique<QuillbayApp>(std::move(options));
        m_windows = std::make_unique<ApplicationWindows>(*m_app);
    }

    void TearDown() override
    {
        m_windows.reset();
        m_app->shutdown();
    }

    ContentView& content() { return *m_windows->mainWindow().content(); }

    // A job that stays active until the test releases its phone.
    static TransferJob heldJob()
    {
        const TransferEndpoint folder = TransferEndpoint::android(
            QStringLiteral("held-phone"), QStringLiteral("1/0"), QStringLiteral("New"));
        return TransferJob::make(TransferType::CreateFolder, folder, folder, 0);
    }

    QTemporaryDir m_dir;
    std::shared_ptr<QSettingsPreferenceStore> m_preferences =
        std::make_shared<QSettingsPreferenceStore>(m_dir.filePath(QStringLiteral("prefs.ini")));
    std::shared_ptr<test::FakeRepositoryFactory> m_factory =
        std::make_shared<test::FakeRepositoryFactory>();
    std::unique_ptr<QuillbayApp> m_app;
    std::unique_ptr<ApplicationWindows> m_windows;
};

TEST_F(WindowsTest, MenuItemsCarryTheirShortcutsAndPostTheirNotifications)
{
    QuillbayCommands& commands = *m_windows->mainWindow().commands();
    struct Row
    {
        QString text;
        QString shortcut;
        QString notification;
    };
    const Row rows[] = {
        {QStringLiteral("Refresh Connected Devices"), QStringLiteral("Ctrl+R"),
         Notifications::refreshDevices},
        {QStringLiteral("Show Transfer Queue"), QStringLiteral("Ctrl+Shift+T"),
         Notifications::showTransferQueue},
        {QStringLiteral("Quillbay Help"), QStringLiteral("Ctrl+/"), Notifications::showHelp},
        {QStringLiteral("Terms && Conditions"), QString(), Notifications::showTerms},
        {QStringLiteral("Privacy Policy"), QString(), Notifications::showPrivacy},
    };
    QSignalSpy posted(&CommandBus::shared(), &CommandBus::posted);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        QAction* action = commands.action(row.text);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->shortcut(), QKeySequence(row.shortcut));
        posted.clear();
        action->trigger();
        ASSERT_EQ(posted.size(), 1);
        EXPECT_EQ(posted.at(0).at(0).toString(), row.notification);
    }
    EXPECT_EQ(commands.action(QStringLiteral("Settings…"))->shortcut(),
              QKeySequence(QStringLiteral("Ctrl+,")));
    EXPECT_EQ(commands.action(QStringLiteral("New Window")), nullptr);
    // The posted notifications opened the window's sheets, one of each.
    for (auto sheet : {ContentView::Sheet::TransferQueue, ContentView::Sheet::Help,
                       ContentView::Sheet::Terms, ContentView::Sheet::Privacy})
        EXPECT_NE(content().sheet(sheet), nullptr);
}

TEST_F(WindowsTest, TransferQueueOpensByItselfOnlyWhenTransfersStartFromNone)
{
    TransferQueueViewModel& transfers = *m_app->appState().transferQueueViewModel();
    EXPECT_EQ(content().sheet(ContentView::Sheet::TransferQueue), nullptr);

    m_factory->holdOpen(QStringLiteral("held-phone"));
    const TransferJob first = heldJob(), second = heldJob();
    transfers.enqueue(QList<TransferJob>{first, second});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return content().sheet(ContentView::Sheet::TransferQueue) != nullptr; }, 5000));
    content().sheet(ContentView::Sheet::TransferQueue)->reject();
    // The count falls from 2 to 0: a closed sheet stays closed.
    transfers.cancel(first.id);
    transfers.cancel(second.id);
    ASSERT_TRUE(QTest::qWaitFor([&] { return transfers.finishedJobs().size() == 2; }, 10000));
    EXPECT_EQ(content().sheet(ContentView::Sheet::TransferQueue), nullptr);

    transfers.enqueue(heldJob());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return content().sheet(ContentView::Sheet::TransferQueue) != nullptr; }, 5000));
    m_factory->releaseOpen(QStringLiteral("held-phone"));
}

TEST_F(WindowsTest, ConsentCannotBeDismissedAndOnlyAcceptStoresIt)
{
    ConsentView* consent = content().presentConsentIfNeeded();
    ASSERT_NE(consent, nullptr);
    QPointer<ConsentView> guard(consent);
    QTest::keyClick(consent, Qt::Key_Escape);
    consent->close();
    EXPECT_TRUE(guard && guard->isVisible());

    QSignalSpy quit(&content(), &ContentView::quitRequested);
    emit consent->declined();
    EXPECT_EQ(quit.size(), 1);
    EXPECT_FALSE(m_preferences->value(QStringLiteral("hasAcceptedTerms")).has_value());

    QTest::keyClick(consent, Qt::Key_Return);
    EXPECT_EQ(m_preferences->boolean(QStringLiteral("hasAcceptedTerms")), true);
    QTest::qWait(0);
    EXPECT_TRUE(!guard || !guard->isVisible());
    EXPECT_EQ(content().presentConsentIfNeeded(), nullptr);
}

TEST_F(WindowsTest, SettingsAndAboutOpenOnceAndSettingsWritesNothingByShowing)
{
    m_preferences->setValue(QStringLiteral("fontScale"), 2.0);
    AppSettings settings(*m_preferences); // reads the stored 2.0
    SettingsWindow* first = m_windows->openSettings();
    EXPECT_EQ(m_windows->openSettings(), first);
    EXPECT_EQ(m_windows->openAbout(), m_windows->openAbout());

    SettingsWindow window(*m_preferences, settings);
    window.show();
    window.close();
    for (const char* key : {"appTheme", "downloadFolder", "overwriteRule", "parallelTransfers",
                            "showQuickAccess", "hasAcceptedTerms"})
        EXPECT_FALSE(m_preferences->value(QString::fromLatin1(key)).has_value()) << key;
    EXPECT_EQ(m_preferences->number(QStringLiteral("fontScale")), 2.0);
    EXPECT_DOUBLE_EQ(window.preview()->font().pointSizeF(), 26.0);

    window.setFolderChooser([](QWidget*, const QString&) { return QString(); });
    window.chooseDownloadFolder();
    EXPECT_FALSE(m_preferences->value(QStringLiteral("downloadFolder")).has_value());
    window.setFolderChooser(
        [](QWidget*, const QString&) { return QStringLiteral("/home/ana/Ünï files"); });
    window.chooseDownloadFolder();
    EXPECT_EQ(m_preferences->text(QStringLiteral("downloadFolder")),
              QStringLiteral("/home/ana/Ünï files"));
}

TEST_F(WindowsTest, AboutShowsTheBuildsVersion)
{
    AboutWindow* about = m_windows->openAbout();
    QStringList texts;
    for (QLabel* label : about->findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains(
        QStringLiteral("Version %1 (%2)")
            .arg(QStringLiteral(QB_EXPECTED_VERSION), QStringLiteral(QB_EXPECTED_BUILD))))
        << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(about->width(), 380);
}

} // namespace
} // namespace qb
