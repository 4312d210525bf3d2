// The sidebar and both panes in the real main window, with the real device list, engine and
// libmtp over the emulated phone.

#include "app/app_state.h"
#include "app/application_windows.h"
#include "app/consent_view.h"
#include "app/content_view.h"
#include "app/fake_app_options.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "browsing/android_browser_pane.h"
#include "browsing/computer_browser_pane.h"
#include "browsing/device_sidebar_model.h"
#include "browsing/device_sidebar_view.h"
#include "browsing/phone_pane_drop_handler.h"
#include "browsing_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone/phone_test.h"
#include "platform/preference_store.h"

#include <QDir>
#include <QMimeData>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new WidgetApplicationEnvironment);

using BrowsingPhoneTest = PhoneTest;

// The folder a paste downloads into, from its downloads among `jobs`; empty before they show.
// (Other test processes share the cache folder, so only this one is looked at.)
QString pasteFolderOf(const QList<TransferJob>& jobs)
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    for (const TransferJob& job : jobs) {
        const QString folder = job.destination.url.toLocalFile();
        if (job.type == TransferType::Download && folder.startsWith(cache + "/"))
            return QFileInfo(folder).path();
    }
    return {};
}

TEST_F(BrowsingPhoneTest, PickThePhoneThenDropPasteAndChangeFilesThroughTheQueue)
{
    std::string photo(300 * 1024, '\0');
    for (size_t i = 0; i < photo.size(); ++i)
        photo[i] = char(i * 7 % 251);
    EmulatedPhone& phone = plugPhone({{"DCIM/photo.jpg", photo}});
    const std::filesystem::path computer = tempFolder() / "computer";
    writeFile(computer / "notes.txt", "from the computer\n");

    auto preferences = std::make_shared<QSettingsPreferenceStore>(
        QString::fromStdString((tempFolder() / "prefs.ini").string()));
    preferences->setValue("hasAcceptedTerms", true);
    preferences->setValue("downloadFolder", QString::fromStdString(computer.string()));
    auto app = std::make_unique<QuillbayApp>(test::fakeAppOptions(preferences));
    auto windows = std::make_unique<ApplicationWindows>(*app);
    windows->mainWindow().show();
    ContentView& content = *windows->mainWindow().content();
    DeviceSidebarView& sidebar = *content.sidebar();
    DeviceListViewModel& devices = *app->appState().deviceListViewModel();
    TransferQueueViewModel& transfers = *app->appState().transferQueueViewModel();

    // Shown, the sidebar monitors the bus: the phone gets a row; choosing it lists its storage.
    ASSERT_TRUE(waitUntil([&] { return devices.devices().size() == 1; }));
    const QString deviceId = devices.devices().first().id;
    const QModelIndex row = sidebar.model().deviceIndex(deviceId);
    ASSERT_TRUE(row.isValid());
    sidebar.activate(row);
    ASSERT_TRUE(waitUntil([&] { return sidebar.model().rowCount(row) == 1; }));
    ASSERT_TRUE(devices.selectedStorageRoot());
    const QString top = devices.selectedStorageRoot()->repositoryPath;

    AndroidBrowserPane& pane = *content.phonePane();
    FileBrowserViewModel& browser = pane.browser();
    const auto names = [&] {
        return namesOf(browser.items());
    };
    // Waits for the folder on screen to be listed again with `name` present (or absent).
    const auto listedWith = [&](const QString& name, bool present = true) {
        return waitUntil([&] { return !browser.isLoading() && names().contains(name) == present; },
                         30'000);
    };
    const auto item = [&](const QString& name) {
        return browser.items().value(names().indexOf(name));
    };
    ASSERT_TRUE(listedWith("DCIM"));
    EXPECT_EQ(browser.currentFolderPath(), top);

    // A computer file dropped on the phone pane lands in the phone folder it shows.
    auto* drops = pane.dropAreas().first()->findChild<PhonePaneDropHandler*>();
    ASSERT_NE(drops, nullptr);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString((computer / "notes.txt").string()))});
    ASSERT_TRUE(drops->handleDrop(files, Qt::NoModifier));
    ASSERT_TRUE(listedWith("notes.txt"));
    EXPECT_EQ(readFile(phone.storageFolder() / "notes.txt"), "from the computer\n");

    // Copy it, open DCIM with Return and paste it there: through the computer, cleaned up after.
    browser.setSelectedItemIDs({item("notes.txt").id});
    pane.copySelection();
    browser.setSelectedItemIDs({item("DCIM").id});
    ASSERT_TRUE(pane.openSelectedOnReturn());
    ASSERT_TRUE(listedWith("photo.jpg"));
    pane.pasteClipboardItems();
    ASSERT_TRUE(listedWith("notes.txt"));
    EXPECT_EQ(readFile(phone.storageFolder() / "DCIM/notes.txt"), "from the computer\n");
    const QString pasteFolder = pasteFolderOf(transfers.jobs());
    ASSERT_FALSE(pasteFolder.isEmpty());
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(pasteFolder); }));

    // The photo dropped on the computer pane lands in the folder it shows, byte for byte.
    ComputerBrowserPane& computerPane = *content.computerPane();
    ASSERT_EQ(computerPane.currentDirectory(), QString::fromStdString(computer.string()));
    std::unique_ptr<QMimeData> drag(PhoneItemTransferable::toMimeData(
        {{item("photo.jpg"), deviceId, browser.currentFolderPath()}}));
    ASSERT_TRUE(computerPane.handleDrop(*drag));
    EXPECT_TRUE(waitUntil([&] { return readFile(computer / "photo.jpg") == photo; }, 30'000));

    // Back at the top: create a folder, rename it, delete it; each shows after the reload.
    browser.navigateToBreadcrumb(0);
    ASSERT_TRUE(listedWith("notes.txt"));
    pane.createFolder("Fresh");
    ASSERT_TRUE(listedWith("Fresh"));
    EXPECT_TRUE(std::filesystem::is_directory(phone.storageFolder() / "Fresh"));
    pane.renameItem(item("Fresh"), deviceId, "Renamed");
    ASSERT_TRUE(listedWith("Renamed"));
    EXPECT_FALSE(names().contains("Fresh"));
    pane.deleteSelected({item("Renamed")});
    ASSERT_TRUE(listedWith("Renamed", false));
    EXPECT_FALSE(std::filesystem::exists(phone.storageFolder() / "Renamed"));
    // The upload, the paste (2), the download, the new folder and the deletion.
    EXPECT_EQ(transfers.finishedJobs().size(), 6);

    // Refresh shows a file as the phone holds it now, edited on the phone itself.
    writeFile(phone.storageFolder() / "notes.txt", "edited on the phone, longer than before\n");
    std::filesystem::last_write_time(phone.storageFolder() / "notes.txt",
                                     std::filesystem::file_time_type::clock::now() + 1h);
    const std::optional<QDateTime> before = item("notes.txt").modifiedAt;
    browser.refresh();
    EXPECT_TRUE(waitUntil([&] { return item("notes.txt").size == 40; }, 10'000));
    EXPECT_NE(item("notes.txt").modifiedAt, before);

    windows.reset();
    app->shutdown();
}

// Regression: pasted files arrived under the names the computer's downloads clean, and files
// whose downloads completed and were cleared before the pane saw them never reached the phone.
TEST_F(BrowsingPhoneTest, APasteKeepsOddNamesAndLosesNoFileWhileCompletedJobsAreCleared)
{
    std::map<std::string, std::string> files{{"DCIM/a:b.txt", "colon"},
                                             {"DCIM/back\\slash?.txt", "backslash"}};
    for (int i = 0; i < 40; ++i)
        files.emplace("DCIM/f" + std::to_string(i) + ".txt", std::string(100 + i, 'x'));
    EmulatedPhone& phone = plugPhone(files);
    auto preferences = std::make_shared<QSettingsPreferenceStore>(
        QString::fromStdString((tempFolder() / "prefs.ini").string()));
    preferences->setValue("hasAcceptedTerms", true);
    preferences->setValue("downloadFolder",
                          QString::fromStdString((tempFolder() / "computer").string()));
    auto app = std::make_unique<QuillbayApp>(test::fakeAppOptions(preferences));
    auto windows = std::make_unique<ApplicationWindows>(*app);
    windows->mainWindow().show();
    ContentView& content = *windows->mainWindow().content();
    DeviceListViewModel& devices = *app->appState().deviceListViewModel();
    TransferQueueViewModel& transfers = *app->appState().transferQueueViewModel();
    ASSERT_TRUE(waitUntil([&] { return devices.devices().size() == 1; }));
    const QModelIndex row = content.sidebar()->model().deviceIndex(devices.devices().first().id);
    content.sidebar()->activate(row);
    AndroidBrowserPane& pane = *content.phonePane();
    FileBrowserViewModel& browser = pane.browser();
    const auto listedWith = [&](const QString& name) {
        return waitUntil(
            [&] { return !browser.isLoading() && namesOf(browser.items()).contains(name); },
            30'000);
    };
    ASSERT_TRUE(listedWith("DCIM"));
    browser.setSelectedItemIDs(
        {browser.items().value(namesOf(browser.items()).indexOf("DCIM")).id});
    ASSERT_TRUE(pane.openSelectedOnReturn());
    ASSERT_TRUE(listedWith("a:b.txt"));
    QSet<QString> all;
    for (const FileItem& item : browser.items())
        all.insert(item.id);
    browser.setSelectedItemIDs(all);
    pane.copySelection();
    browser.navigateToBreadcrumb(0);
    ASSERT_TRUE(listedWith("DCIM"));

    pane.pasteClipboardItems();
    QString pasteFolder;
    ASSERT_TRUE(
        waitUntil([&] { return !(pasteFolder = pasteFolderOf(transfers.jobs())).isEmpty(); }));
    // The user keeps clicking "Clear Completed" until every file is on the phone.
    const auto arrived = [&] {
        int count = 0;
        for (const auto& [name, content] : files)
            count += readFile(phone.storageFolder() / name.substr(5)) == content;
        return count;
    };
    ASSERT_TRUE(waitUntil(
        [&] {
            transfers.clearCompleted();
            return arrived() == int(files.size()) && transfers.activeJobs().isEmpty();
        },
        60'000))
        << arrived() << " of " << files.size() << " arrived";
    EXPECT_FALSE(std::filesystem::exists(phone.storageFolder() / "a_b.txt"));
    EXPECT_FALSE(std::filesystem::exists(phone.storageFolder() / "back_slash_.txt"));
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(pasteFolder); }));

    windows.reset();
    app->shutdown();
}

} // namespace
