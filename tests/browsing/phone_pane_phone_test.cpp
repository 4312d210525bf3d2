#include "browsing/android_browser_pane.h"
#include "browsing_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/device/mtp_device_lister.h"
#include "core/device/mtp_device_manager.h"
#include "core/device/mtp_repository_factory.h"
#include "core/transfer/transfer_queue_actor.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "phone_test.h"
#include "platform/preference_store.h"
#include "platform/usb_hotplug_source.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new WidgetApplicationEnvironment);

class PhonePanePhoneTest : public PhoneTest
{
protected:
    void TearDown() override
    {
        pane.reset();
        devices.reset();
        transfers.reset();
        engine.reset();
        QThreadPool::globalInstance()->waitForDone();
        PhoneTest::TearDown();
    }

    QTemporaryDir folder;
    std::unique_ptr<TransferQueueActor> engine = std::make_unique<TransferQueueActor>();
    std::unique_ptr<TransferQueueViewModel> transfers =
        std::make_unique<TransferQueueViewModel>(*engine);
    std::unique_ptr<DeviceListViewModel> devices;
    QSettingsPreferenceStore preferences{folder.filePath("settings.ini")};
    WiFiPeerRegistry peers{folder.path()};
    PendingOutgoingFilesRegistry pending;
    ReceivedFilesRegistry received{folder.path()};
    SentFilesRegistry sent{folder.path()};
    std::unique_ptr<AndroidBrowserPane> pane;

    QStringList names() { return namesOf(pane->browser().items()); }
    // Waits for the folder on screen to be listed again with `name` present (or absent).
    bool listedWith(const QString& name, bool present = true)
    {
        return waitUntil(
            [&] { return !pane->browser().isLoading() && names().contains(name) == present; },
            30'000);
    }
    std::optional<FileItem> item(const QString& name)
    {
        for (const FileItem& listed : pane->browser().items()) {
            if (listed.name == name)
                return listed;
        }
        return std::nullopt;
    }
};

TEST_F(PhonePanePhoneTest, BrowseDownloadCreateRenameAndDeleteThroughTheQueue)
{
    const std::string photo(300'000, 'p');
    EmulatedPhone& phone = plugPhone({{"DCIM/photo.jpg", photo}, {"notes.txt", "hello"}});
    MTPClient::Options options;
    options.sleep = [](std::chrono::milliseconds) {
    };
    devices = std::make_unique<DeviceListViewModel>(
        std::make_unique<MTPDeviceManager>(std::make_shared<MTPDeviceLister>(), nullptr,
                                           MTPDeviceManager::Timing{1h, 1h}),
        std::make_shared<MTPRepositoryFactory>(options),
        [this](RepositoryProvider provider) { engine->setRepositoryProvider(provider); });
    pane = std::make_unique<AndroidBrowserPane>(PaneContext{
        devices.get(), transfers.get(), &preferences, {&peers, &pending, &received, &sent}, {}});
    preferences.setValue("downloadFolder", folder.filePath("downloads"));

    devices->refreshDevices();
    ASSERT_TRUE(waitUntil([&] { return !devices->devices().isEmpty(); }, 30'000));
    devices->selectDevice(devices->devices().first());
    ASSERT_TRUE(listedWith("notes.txt"));
    EXPECT_EQ(names(), QStringList({"DCIM", "notes.txt"}));
    const QString deviceId = pane->browser().deviceId();

    // Copy notes.txt, open DCIM with Return and paste it there (through the computer).
    pane->browser().setSelectedItemIDs({item("notes.txt")->id});
    pane->copySelection();
    pane->browser().setSelectedItemIDs({item("DCIM")->id});
    ASSERT_TRUE(pane->openSelectedOnReturn());
    ASSERT_TRUE(listedWith("photo.jpg"));
    pane->pasteClipboardItems();
    ASSERT_TRUE(listedWith("notes.txt"));
    EXPECT_EQ(readFile(phone.storageFolder() / "DCIM/notes.txt"), "hello");
    const QDir cache(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
    EXPECT_TRUE(
        waitUntil([&] { return cache.entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty(); }));

    // Download the photo through the queue.
    pane->browser().setSelectedItemIDs({item("photo.jpg")->id});
    pane->downloadSelected();
    const std::filesystem::path saved = folder.filePath("downloads/photo.jpg").toStdString();
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(saved); }, 30'000));
    EXPECT_EQ(readFile(saved), photo);

    // Back at the top: create a folder, rename it, delete it; each shows after the reload.
    pane->browser().navigateToBreadcrumb(0);
    ASSERT_TRUE(listedWith("notes.txt"));
    pane->createFolder("Fresh");
    ASSERT_TRUE(listedWith("Fresh"));
    EXPECT_TRUE(std::filesystem::is_directory(phone.storageFolder() / "Fresh"));

    pane->renameItem(*item("Fresh"), deviceId, "Renamed");
    ASSERT_TRUE(listedWith("Renamed"));
    EXPECT_FALSE(names().contains("Fresh"));

    pane->deleteSelected({*item("Renamed")});
    ASSERT_TRUE(listedWith("Renamed", false));
    EXPECT_FALSE(std::filesystem::exists(phone.storageFolder() / "Renamed"));
    EXPECT_EQ(transfers->finishedJobs().size(), 5); // paste (2), download, create, delete
}

} // namespace
