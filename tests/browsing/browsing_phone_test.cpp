// The sidebar, the computer pane and the drops of both panes in the real main window, with the
// real device list, engine and libmtp over the emulated phone.

#include "app/app_state.h"
#include "app/application_windows.h"
#include "app/consent_view.h"
#include "app/content_view.h"
#include "app/fake_alert_presenter.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "browsing/android_browser_pane.h"
#include "browsing/computer_browser_pane.h"
#include "browsing/device_sidebar_model.h"
#include "browsing/device_sidebar_view.h"
#include "browsing/phone_pane_drop_handler.h"
#include "core/device/device_list_view_model.h"
#include "phone/phone_test.h"
#include "platform/fake_desktop_url_opener.h"
#include "platform/preference_store.h"
#include "platform/scripted_process_runner.h"
#include "support/test_support.h"

#include <QApplication>
#include <QMimeData>

#include <gtest/gtest.h>

namespace qb {
namespace {

using test::waitUntil;

class BrowsingPhoneTest : public PhoneTest
{
protected:
    void SetUp() override
    {
        PhoneTest::SetUp();
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "browsing_phone_test";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }
};

TEST_F(BrowsingPhoneTest, PickThePhoneAndDropFilesBothWays)
{
    std::string photo(300 * 1024, '\0');
    for (size_t i = 0; i < photo.size(); ++i)
        photo[i] = char(i * 7 % 251);
    EmulatedPhone& phone = plugPhone({{"photo.jpg", photo}});
    const std::filesystem::path computer = tempFolder() / "computer";
    std::filesystem::create_directories(computer);
    writeFile(computer / "notes.txt", "from the computer\n");

    auto preferences = std::make_shared<QSettingsPreferenceStore>(
        QString::fromStdString((tempFolder() / "prefs.ini").string()));
    preferences->setValue("hasAcceptedTerms", true);
    preferences->setValue("downloadFolder", QString::fromStdString(computer.string()));
    QuillbayApp::Options options;
    options.preferences = preferences;
    options.processRunner = std::make_shared<ScriptedProcessRunner>();
    options.alerts = std::make_shared<FakeAlertPresenter>();
    options.urlOpener = std::make_shared<FakeDesktopUrlOpener>();
    options.installCrashGuard = false;
    options.makeWiFiServer = [](WiFiServerBackend& backend) {
        return std::make_unique<WiFiAdvertiser>(backend, nullptr);
    };
    auto app = std::make_unique<QuillbayApp>(std::move(options));
    auto windows = std::make_unique<ApplicationWindows>(*app);
    windows->mainWindow().show();
    ContentView& content = *windows->mainWindow().content();
    DeviceSidebarView& sidebar = *content.sidebar();
    DeviceListViewModel& devices = *app->appState().deviceListViewModel();

    // Shown, the sidebar monitors the bus: the phone gets a row; choosing it lists its storage.
    ASSERT_TRUE(waitUntil([&] { return devices.devices().size() == 1; }));
    const QString deviceId = devices.devices().first().id;
    const QModelIndex row = sidebar.model().deviceIndex(deviceId);
    ASSERT_TRUE(row.isValid());
    sidebar.activate(row);
    ASSERT_TRUE(waitUntil([&] { return sidebar.model().rowCount(row) == 1; }));
    ASSERT_TRUE(devices.selectedStorageRoot());
    const QString top = devices.selectedStorageRoot()->repositoryPath;

    auto repository = devices.repository(deviceId);
    ASSERT_TRUE(waitUntil([&] { return repository.isFinished(); }));
    auto listing = repository.result()->listFiles(top);
    ASSERT_TRUE(waitUntil([&] { return listing.isFinished(); }));
    ASSERT_EQ(listing.result().size(), 1);

    // A phone item dropped on the computer pane lands in the folder it shows, byte for byte.
    ComputerBrowserPane& computerPane = *content.computerPane();
    ASSERT_EQ(computerPane.currentDirectory(), QString::fromStdString(computer.string()));
    std::unique_ptr<QMimeData> item(
        PhoneItemTransferable::toMimeData({{listing.result().first(), deviceId, top}}));
    ASSERT_TRUE(computerPane.handleDrop(*item));
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(computer / "photo.jpg"); }, 30'000));
    ASSERT_TRUE(waitUntil([&] { return readFile(computer / "photo.jpg") == photo; }, 30'000));

    // A computer file dropped on the phone pane lands in the phone folder it shows.
    AndroidBrowserPane& phonePane = *content.phonePane();
    ASSERT_TRUE(waitUntil([&] { return phonePane.browser().currentFolderPath() == top; }));
    auto* drops = phonePane.dropAreas().first()->findChild<PhonePaneDropHandler*>();
    ASSERT_NE(drops, nullptr);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString((computer / "notes.txt").string()))});
    ASSERT_TRUE(drops->handleDrop(files, Qt::NoModifier));
    const std::filesystem::path arrived = phone.storageFolder() / "notes.txt";
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(arrived); }, 30'000));
    EXPECT_TRUE(waitUntil([&] { return readFile(arrived) == "from the computer\n"; }, 30'000));

    windows.reset();
    app->shutdown();
}

} // namespace
} // namespace qb
