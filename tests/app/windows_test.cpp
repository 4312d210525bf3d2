#include "app/about_window.h"
#include "app/app_settings.h"
#include "app/app_state.h"
#include "app/appearance.h"
#include "app/application_windows.h"
#include "app/consent_view.h"
#include "app/content_view.h"
#include "app/fake_app_options.h"
#include "app/mail_helper.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "app/quillbay_commands.h"
#include "app/settings_window.h"
#include "browsing/android_browser_pane.h"
#include "browsing/computer_browser_pane.h"
#include "browsing/device_sidebar_delegate.h"
#include "browsing/device_sidebar_view.h"
#include "browsing/phone_pane_toolbar.h"
#include "core/device/device_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/device/mtp_device_manager.h"
#include "core/transfer/transfer_preferences.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/app_paths.h"
#include "support/test_support.h"
#include "support/tooltip_text.h"
#include "ui_common/colour_contrast.h"
#include "ui_common/command_bus.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"
#include "wifi/received_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QApplication>

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <unistd.h>

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
        // The icon theme as the application installs it before its windows: its symbols take
        // room in toolbars and buttons.
        installIconThemeFallback();
        QuillbayApp::Options options = test::fakeAppOptions(m_preferences);
        options.processRunner = m_runner;
        options.alerts = m_alerts;
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

    // Lets layouts that depend on their own width take their final form.
    static void settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir m_dir;
    std::shared_ptr<QSettingsPreferenceStore> m_preferences =
        std::make_shared<QSettingsPreferenceStore>(m_dir.filePath(QStringLiteral("prefs.ini")));
    std::shared_ptr<ScriptedProcessRunner> m_runner = std::make_shared<ScriptedProcessRunner>();
    std::shared_ptr<FakeAlertPresenter> m_alerts = std::make_shared<FakeAlertPresenter>();
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
    EXPECT_EQ(window.preview()->font().pixelSize(), 26); // pixels, not points

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

    // "Legal" is a small bold heading in the dimmed colour, not the size of the name.
    auto* legal = about->findChild<QLabel*>(QStringLiteral("legalHeading"));
    ASSERT_NE(legal, nullptr);
    EXPECT_TRUE(legal->font().bold() && legal->foregroundRole() == QPalette::PlaceholderText);
    EXPECT_DOUBLE_EQ(legal->font().pointSizeF(),
                     textStyleFont(TextStyle::Caption, QApplication::font()).pointSizeF());
}

// The pairing page at the window's smallest size: every digit of the PIN shows, the page does not
// widen the window, and a page that is not on screen asks for no room.
TEST_F(WindowsTest, PairingPromptFitsTheSmallestWindowAndHiddenPagesAskNoRoom)
{
    MainWindow& window = m_windows->mainWindow();
    window.show();
    window.resize(MainWindow::minimumWidth, MainWindow::minimumHeight);
    DeviceListViewModel& devices = *m_app->appState().deviceListViewModel();
    WiFiPeerRegistry& peers = WiFiPeerRegistry::shared();
    AndroidBrowserPane& pane = *content().phonePane();
    const StorageRoot internal = test::storage(QStringLiteral("65537"), QStringLiteral("Internal"));
    const Device usb{
        internal.id, QStringLiteral("Galaxy"), Device::ConnectionType::UsbMTP, {internal}, true};
    auto showUsbPhone = [&] {
        devices.setSelectedDevice(usb);
        devices.setSelectedStorageRoot(internal);
        settle();
        return pane.minimumSizeHint().width();
    };
    const int usbOnly = showUsbPhone();

    WiFiPeer peer{QStringLiteral("10.0.0.7"),
                  QStringLiteral("Pixel 7 Pro of Ana"),
                  QStringLiteral("526647"),
                  std::nullopt,
                  {}};
    peers.setPeers({peer});
    peers.setSelectedPeerHost(peer.host);
    devices.setSelectedDevice(std::nullopt);
    settle();
    ASSERT_EQ(pane.content(), PhoneFileActions::Content::WiFiPhone);
    auto* pin = pane.findChild<QLabel*>(QStringLiteral("pairingPIN"));
    ASSERT_TRUE(pin && pin->isVisible());
    EXPECT_LE(pin->fontMetrics().horizontalAdvance(pin->text()), pin->contentsRect().width());
    EXPECT_LE(pin->fontMetrics().height(), pin->contentsRect().height());
    EXPECT_LE(window.minimumSizeHint().width(), MainWindow::minimumWidth);

    // A screen reader hears the digits, on the page and in the sidebar.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(pin)->text(QAccessible::Name),
              QStringLiteral("PIN 526 647"));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(content().sidebar()->tree());
    QString rowDescription;
    for (int i = 0; i < list->childCount(); ++i) {
        if (list->child(i)->text(QAccessible::Name) == peer.name)
            rowDescription = list->child(i)->text(QAccessible::Description);
    }
    EXPECT_TRUE(rowDescription.contains(QStringLiteral("PIN 526 647")))
        << rowDescription.toStdString();

    // Where there is room the PIN is 84 pixels high, not 84 points.
    window.resize(1600, 1000);
    settle();
    EXPECT_EQ(QFontInfo(pin->font()).pixelSize(), 84);
    window.resize(MainWindow::minimumWidth, MainWindow::minimumHeight);

    // The prompt stays behind the USB phone's files, asking for no width of its own.
    EXPECT_EQ(showUsbPhone(), usbOnly);

    // Paired, the page's header keeps some of the name at this width.
    devices.setSelectedDevice(std::nullopt);
    peer.token = QStringLiteral("token");
    peers.setPeers({peer});
    settle();
    QLabel* name = nullptr;
    for (QLabel* label : pane.findChildren<QLabel*>())
        if (label->isVisible() && label->toolTip().contains(peer.name))
            name = label;
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->text().startsWith(QStringLiteral("Pixel"))) << name->text().toStdString();
    EXPECT_LE(name->fontMetrics().horizontalAdvance(name->text()), name->contentsRect().width());
    peers.setSelectedPeerHost(std::nullopt); // the registry outlives this test
    peers.setPeers({});
}

TEST_F(WindowsTest, ClosingTheMainWindowQuitsAndClosesTheOtherWindows)
{
    m_preferences->setValue(QStringLiteral("hasAcceptedTerms"), true);
    MainWindow& main = m_windows->mainWindow();
    main.show();
    const QPointer<SettingsWindow> settings = m_windows->openSettings();
    const QPointer<AboutWindow> about = m_windows->openAbout();
    QSignalSpy quit(m_windows.get(), &ApplicationWindows::quitRequested);
    EXPECT_TRUE(main.close());
    EXPECT_EQ(quit.size(), 1);
    EXPECT_TRUE(!settings || !settings->isVisible());
    EXPECT_TRUE(!about || !about->isVisible());
}

TEST_F(WindowsTest, SettingsAndTheComputerPaneFollowEveryWriteAtOnce)
{
    m_preferences->setValue(QStringLiteral("hasAcceptedTerms"), true);
    const QString chosen = m_dir.path();
    const QString other = m_dir.filePath(QStringLiteral("other"));
    QDir().mkpath(other);
    m_windows->mainWindow().show();
    ComputerBrowserPane& pane = *content().computerPane();
    QWidget* quickAccess = nullptr;
    for (QWidget* child : pane.findChildren<QWidget*>()) {
        if (child->accessibleName() == u"Quick Access")
            quickAccess = child;
    }
    ASSERT_NE(quickAccess, nullptr);
    EXPECT_TRUE(quickAccess->isVisibleTo(&pane));

    // Written in the settings window while the main window stays inactive.
    SettingsWindow* settings = m_windows->openSettings();
    settings->setFolderChooser([&](QWidget*, const QString&) { return chosen; });
    settings->chooseDownloadFolder();
    EXPECT_EQ(pane.navStack(), QStringList{chosen});
    settings->findChild<QCheckBox*>()->click();
    EXPECT_FALSE(quickAccess->isVisibleTo(&pane));

    // Written by the computer pane: the open settings window shows it.
    TransferPreferences(*m_preferences).setDownloadFolder(other);
    QStringList tips;
    for (QLabel* label : settings->findChildren<QLabel*>())
        tips.append(test::tooltipText(label->toolTip()));
    EXPECT_TRUE(tips.contains(other)) << tips.join(u'|').toStdString();
    EXPECT_EQ(pane.navStack(), QStringList{other});
}

// Regression (also): Refresh, Download selected and Go Back came out in the pale grey of the
// fallback theme's full-colour drawings, so that they looked disabled in the light theme.
TEST_F(WindowsTest, OneColourSymbolsTakeTheTextColourOfTheChosenTheme)
{
    m_preferences->setValue(QStringLiteral("hasAcceptedTerms"), true);
    m_windows->mainWindow().show();
    QList<QToolButton*> buttons;
    AndroidBrowserPane& pane = *content().phonePane();
    for (QToolButton* button :
         pane.toolbar()->findChildren<QToolButton*>() + pane.findChildren<QToolButton*>()) {
        const QString name = button->accessibleName();
        if (name == u"List" || name == u"Grid" || name.endsWith(u"Computer Browser") ||
            name == u"Refresh" || name == u"Download selected" || name == u"Go Back")
            buttons.append(button);
    }
    ASSERT_EQ(buttons.size(), 6);
    AppSettings& settings = *m_app->appState().settings();
    for (const AppTheme theme : {AppTheme::Dark, AppTheme::Light}) {
        settings.setTheme(theme);
        const QRgb text = QApplication::palette().color(QPalette::WindowText).rgb();
        for (QToolButton* button : buttons) {
            SCOPED_TRACE((toText(theme) + u' ' + button->accessibleName()).toStdString());
            const QImage image =
                button->icon().pixmap(16).toImage().convertToFormat(QImage::Format_ARGB32);
            QSet<QRgb> opaque;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    if (qAlpha(image.pixel(x, y)) == 255)
                        opaque.insert(image.pixel(x, y));
                }
            }
            EXPECT_EQ(opaque, QSet<QRgb>{text});
        }
    }
    settings.setTheme(AppTheme::System);
}

// Regression: in the dark theme the PIN stood in dark blue on near-black; in the light one the
// paired phone's green symbol hardly showed on white.
TEST(PeerRowColoursTest, StateSymbolAndPinStandOutInBothThemes)
{
    for (const AppTheme theme : {AppTheme::Light, AppTheme::Dark}) {
        const QPalette palette = paletteFor(theme, QPalette());
        for (const bool paired : {false, true}) {
            for (const bool highlighted : {false, true}) {
                SCOPED_TRACE(toText(theme).toStdString() + (paired ? " paired" : " unpaired") +
                             (highlighted ? " highlighted" : ""));
                const PeerRowColours colours = peerRowColours(palette, paired, highlighted);
                EXPECT_GE(contrastRatio(colours.stateSymbol, colours.background), 3.0);
                EXPECT_GE(contrastRatio(colours.pin, colours.pinChip), 4.5);
                // Still blue and green, only lighter or darker.
                const QColor state = colours.stateSymbol;
                EXPECT_TRUE(paired ? state.green() > state.blue() : state.blue() > state.green());
            }
        }
    }
}

TEST_F(WindowsTest, SendFeedbackSaysSoWhenNoMailProgramTakesIt)
{
    m_runner->setAnswer({true, 3}); // xdg-email's status when the desktop has no mail program
    QSignalSpy finished(&m_app->mailHelper(), &MailHelper::mailComposeFinished);
    m_windows->mainWindow().commands()->action(QStringLiteral("Send Feedback"))->trigger();
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_EQ(m_alerts->presented.size(), 1);
    EXPECT_EQ(m_alerts->presented.first().title, QStringLiteral("Mail Not Configured"));
}

// A data folder where a history file cannot be read, as after a first run under sudo.
class UnusableFilesTest : public WindowsTest
{
protected:
    void SetUp() override
    {
        // A data folder of this test's own: the other tests of this binary, which ctest may run
        // at the same time in the same home, must not meet its unreadable file.
        m_dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("share"))));
        m_unreadable = AppPaths::dataFolder() + QStringLiteral("/received_files.json");
        ASSERT_TRUE(QDir().mkpath(m_unreadable));
        // Another user's, as after sudo, where the test may give it away.
        const QByteArray path = QFile::encodeName(m_unreadable);
        ASSERT_EQ(::geteuid() == 0 ? ::chown(path.constData(), 65534, 65534) : 0, 0);
        // Settings that cannot be saved, whoever runs the test: a file where their folder goes.
        QFile blocker(m_dir.filePath(QStringLiteral("blocked")));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        m_preferences = std::make_shared<QSettingsPreferenceStore>(
            m_dir.filePath(QStringLiteral("blocked/prefs.ini")));
        WindowsTest::SetUp();
    }
    void TearDown() override
    {
        WindowsTest::TearDown();
        QDir(m_unreadable).removeRecursively();
        if (m_dataHome.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", m_dataHome);
    }

    QByteArray m_dataHome;
    QString m_unreadable;
};

// Guards against the alert about files the user cannot use never being shown, against its
// command running what a folder's name holds when pasted, and against settings lost without a
// word: exactly one alert names the file, its command hands every path to chown as one word, and
// one more says that settings cannot be saved, once.
TEST_F(UnusableFilesTest, OneAlertNamesTheFileWithACommandSafeToPaste)
{
    if (!ReceivedFilesRegistry::shared().fileProblem().contains(m_unreadable))
        GTEST_SKIP() << "the histories were read by an earlier test of this process";
    test::waitUntil([this] { return !m_alerts->presented.isEmpty(); }, 5000);
    settle();
    ASSERT_EQ(m_alerts->presented.size(), 1);
    const QString message = m_alerts->presented.first().message;
    EXPECT_TRUE(
        message.contains(u'\u201c' + m_unreadable + QStringLiteral("\u201d cannot be read")))
        << message.toStdString();
    // Giving the folder back mends it only where it is another user's.
    const QString command = QuillbayApp::giveBackCommand({AppPaths::dataFolder()});
    EXPECT_EQ(message.contains(u'\n' + command + u'\n'), ::geteuid() == 0) << message.toStdString();

    const QStringList odd = {QStringLiteral("/tmp/my \"odd\" $(touch PWNED) data"),
                             QStringLiteral("/tmp/it's\nhere `id` \\ 'x'")};
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QuillbayApp::giveBackCommand(odd).replace(QStringLiteral("sudo chown -R"),
                                                           QStringLiteral("printf '%s\\0'"))});
    ASSERT_TRUE(shell.waitForFinished(10000));
    const QList<QByteArray> words = shell.readAllStandardOutput().split('\0');
    ASSERT_EQ(words.size(), 4);
    EXPECT_EQ(QString::fromUtf8(words.at(1)), odd.at(0));
    EXPECT_EQ(QString::fromUtf8(words.at(2)), odd.at(1));

    m_preferences->setValue(QStringLiteral("showQuickAccess"), false);
    m_preferences->setValue(QStringLiteral("showQuickAccess"), true);
    test::waitUntil([this] { return m_alerts->presented.size() > 1; }, 5000);
    settle();
    ASSERT_EQ(m_alerts->presented.size(), 2);
    EXPECT_TRUE(m_alerts->presented.last().message.contains(
        QStringLiteral("Settings cannot be saved in \u201c") + m_preferences->location()))
        << m_alerts->presented.last().message.toStdString();
}

} // namespace
} // namespace qb
