#include "browsing/android_browser_pane.h"
#include "browsing/breadcrumb_bar.h"
#include "browsing/file_browser_list.h"
#include "browsing/file_grid_view.h"
#include "browsing/phone_item_transferable.h"
#include "browsing/phone_pane_drop_handler.h"
#include "browsing/phone_pane_toolbar.h"
#include "browsing/rename_sheet.h"
#include "browsing_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/device/mtp_device_manager.h"
#include "core/transfer/transfer_queue_actor.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "documents/command_bus.h"
#include "documents/observable_flag.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new WidgetApplicationEnvironment);

const StorageRoot kInternal{"65537", "Internal", "65537/0", {}, {}};

class PhonePaneTest : public ::testing::Test
{
protected:
    std::shared_ptr<FakeRepositoryFactory> factory = std::make_shared<FakeRepositoryFactory>();
    TransferQueueActor engine;
    TransferQueueViewModel transfers{engine};
    DeviceListViewModel devices{nullptr, factory, [this](RepositoryProvider provider) {
                                    engine.setRepositoryProvider(std::move(provider));
                                }};
    ObservableFlag showComputerPane{true};
    QTemporaryDir wifiFolder;
    WiFiPeerRegistry peers{wifiFolder.path()};
    PendingOutgoingFilesRegistry pending;
    ReceivedFilesRegistry received{wifiFolder.path()};
    SentFilesRegistry sent{wifiFolder.path()};
    std::unique_ptr<AndroidBrowserPane> pane = std::make_unique<AndroidBrowserPane>(PaneContext{
        &devices, &transfers, nullptr, {&peers, &pending, &received, &sent}, &showComputerPane});
    FileBrowserViewModel& browser = pane->browser();

    void select(const QString& deviceId)
    {
        devices.setSelectedDevice(
            Device{deviceId, deviceId, Device::ConnectionType::UsbMTP, {kInternal}, true});
        devices.setSelectedStorageRoot(kInternal);
    }
    // Selects the phone and waits until its top folder, holding `items`, is listed.
    void show(const QString& deviceId, const QList<FileItem>& items)
    {
        factory->repository(deviceId)->ready.insert("65537/0", items);
        select(deviceId);
        ASSERT_TRUE(waitUntil([&] {
            return browser.deviceId() == deviceId && !browser.isLoading() &&
                   browser.items().size() == items.size();
        }));
    }
    QMessageBox* alert() { return qobject_cast<QMessageBox*>(pane->activeDialog()); }
    QStringList selectedRowIds(QAbstractItemView* view)
    {
        QStringList ids;
        for (const QModelIndex& index : view->selectionModel()->selectedRows())
            ids.append(index.data(Qt::UserRole + 1).toString());
        ids.sort();
        return ids;
    }
};

// Regression (also): a file dropped while no folder was listed was queued into an empty path.
TEST_F(PhonePaneTest, ContentFollowsTheSidebarAndNothingIsDroppedWithoutAFolder)
{
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::SetupGuide);
    peers.setPeers({WiFiPeer{"10.0.0.7", "Pixel", "123456", std::nullopt, {}}});
    peers.setSelectedPeerHost(QString("10.0.0.7"));
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::WiFiPhone);
    CommandBus::shared().post(Notifications::showSetupGuide, true);
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::SetupGuide);
    CommandBus::shared().post(Notifications::showSetupGuide, false);
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::WiFiPhone);
    peers.setSelectedPeerHost(QString("10.0.0.8")); // forgotten phone
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::SetupGuide);

    QTemporaryDir computer;
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(computer.path())});
    auto* handler = pane->dropAreas().first()->findChild<PhonePaneDropHandler*>();
    ASSERT_NE(handler, nullptr);
    std::optional<DropPlan> applied;
    QObject::connect(handler, &PhonePaneDropHandler::dropApplied,
                     [&](const DropPlan& plan) { applied = plan; });
    handler->handleDrop(drop, Qt::NoModifier);
    ASSERT_TRUE(waitUntil([&] { return applied.has_value(); }));
    EXPECT_TRUE(applied->jobs.isEmpty());

    // A chosen phone wins over the guide; without storages it shows that.
    CommandBus::shared().post(Notifications::showSetupGuide, true);
    devices.setSelectedDevice(Device{"A", "A", Device::ConnectionType::UsbMTP, {}, true});
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::NoStorage);
    CommandBus::shared().post(Notifications::showSetupGuide, false);
}

// Regression: a slow storage load finishing last showed the wrong phone, and actions then
// named whatever phone the sidebar selected by then.
TEST_F(PhonePaneTest, StorageLoadsApplyOnlyToTheSelectionTheyWereStartedFor)
{
    factory->hold("A");
    select("A");
    QCoreApplication::sendPostedEvents(); // the pane asks for A's phone
    // B's storage equals A's: only the device tells the two loads apart.
    show("B", {file("65537/7", "b.txt", 5)});
    factory->release("A");
    deliverPostedEvents();
    EXPECT_EQ(browser.deviceId(), "B");
    EXPECT_EQ(namesOf(browser.items()), QStringList{"b.txt"});

    // The sidebar moves on to C, whose phone is slow to open: a download still names B.
    factory->hold("C");
    select("C");
    browser.setSelectedItemIDs({"65537/7"});
    pane->downloadSelected();
    ASSERT_TRUE(waitUntil([&] { return transfers.jobs().size() == 1; }));
    EXPECT_EQ(transfers.jobs().first().source.deviceId, "B");
    factory->release("C");
}

TEST_F(PhonePaneTest, SelectionStaysInStepAcrossReloadsAndViewsAndDrivesTheToolbar)
{
    show("A", {folder("65537/1", "a"), file("65537/2", "b.txt"), file("65537/3", "c.txt")});
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::Files);
    for (QWidget* area : pane->dropAreas())
        EXPECT_TRUE(area->acceptDrops());
    QTableView* table = pane->fileList()->table();
    PhonePaneToolbar* toolbar = pane->toolbar();
    EXPECT_FALSE(toolbar->deleteButton()->isVisibleTo(toolbar));

    auto* model = table->model();
    table->selectionModel()->select(model->index(0, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->selectionModel()->select(model->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(browser.selectedItemIDs(), QSet<QString>({"65537/1", "65537/3"}));
    EXPECT_TRUE(toolbar->deleteButton()->isVisibleTo(toolbar));
    EXPECT_TRUE(toolbar->downloadButton()->isVisibleTo(toolbar));

    browser.reload();
    ASSERT_TRUE(waitUntil([&] { return model->rowCount() == 3; }));
    EXPECT_EQ(selectedRowIds(table), QStringList({"65537/1", "65537/3"}));
    EXPECT_EQ(selectedRowIds(pane->fileList()->grid()), QStringList({"65537/1", "65537/3"}));
    // In the grid a click selects its tile alone, modifiers or not; the background clears nothing.
    FileGridView* grid = pane->fileList()->grid();
    pane->toolbar()->gridButton()->click();
    pane->resize(800, 600);
    pane->show();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      grid->visualRect(model->index(1, 0)).center());
    EXPECT_EQ(browser.selectedItemIDs(), QSet<QString>{"65537/2"});
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(790, 590));
    EXPECT_EQ(selectedRowIds(table), QStringList{"65537/2"});
    browser.setSelectedItemIDs({"65537/1", "65537/3"});

    browser.setSearchQuery("c");
    EXPECT_EQ(selectedRowIds(table), QStringList{"65537/3"});
    EXPECT_EQ(browser.selectedItemIDs().size(), 2); // a hidden row stays selected
    browser.setSearchQuery("");

    // A drag carries the one row it started on, with the phone and folder on screen.
    std::unique_ptr<QMimeData> drag(model->mimeData({model->index(1, 0)}));
    const auto payload = PhoneItemTransferable::fromMimeData(*drag);
    ASSERT_EQ(payload.size(), 1);
    EXPECT_EQ(payload.first().toJson(),
              (PhoneItemTransferable{browser.items().at(1), "A", "65537/0"}.toJson()));

    browser.setSelectedItemIDs({});
    EXPECT_TRUE(selectedRowIds(table).isEmpty());
    EXPECT_FALSE(toolbar->downloadButton()->isVisibleTo(toolbar));

    // Return opens a selected folder and passes a file on.
    browser.setSelectedItemIDs({"65537/3"});
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(browser.currentFolderPath(), "65537/0");
    browser.setSelectedItemIDs({"65537/1"});
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(browser.currentFolderPath(), "65537/1");
}

// Regressions: the delete question counted ids of other folders, and Delete on an unselected row
// also deleted the rows selected before; the rename used whatever the field held when the task
// ran, and sent "/" to the phone.
TEST_F(PhonePaneTest, DeleteAndRenameDoExactlyWhatWasConfirmed)
{
    show("A", {file("65537/1", "a.txt"), file("65537/2", "b.txt"), file("65537/3", "c.txt")});
    browser.setSelectedItemIDs({"65537/1", "65537/2", "elsewhere"});
    pane->fileList()->perform(FileMenuEntry::Action::Delete, {"65537/3"}, browser.items().at(2));
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->text(), "Delete 1 item(s)?");
    for (QAbstractButton* button : alert()->buttons()) {
        if (button->text() == "Delete")
            button->click();
    }
    ASSERT_TRUE(waitUntil([&] { return transfers.jobs().size() == 1; }));
    EXPECT_EQ(transfers.jobs().first().source.path, "65537/3");
    EXPECT_TRUE(browser.selectedItemIDs().isEmpty());

    browser.setSelectedItemIDs({"65537/1", "65537/2", "elsewhere"});
    pane->requestDeleteSelected();
    EXPECT_EQ(alert()->text(), "Delete 2 item(s)?");

    auto repo = factory->repository("A");
    const FileItem item = file("65537/1", "a.txt");
    pane->startRename(item);
    auto* sheet = qobject_cast<RenameSheet*>(pane->activeDialog());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->text(), "a.txt");
    sheet->field()->setText("");
    EXPECT_FALSE(sheet->renameButton()->isEnabled());
    sheet->field()->setText("b.txt");
    QTest::keyClick(sheet->field(), Qt::Key_Return);
    sheet->field()->setText("changed later.txt");
    ASSERT_TRUE(waitUntil([&] { return !repo->calls().filter("rename").isEmpty(); }));
    EXPECT_EQ(repo->calls().filter("rename"), QStringList{"rename 65537/1 to b.txt"});

    pane->renameItem(item, "A", "x/y");
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->informativeText(), "A name cannot contain \u201c/\u201d.");
    EXPECT_EQ(repo->calls().filter("rename").size(), 1);

    repo->failures.insert("rename",
                          std::make_exception_ptr(FileRepositoryError::renameNotSupported()));
    pane->renameItem(item, "A", "c.txt");
    ASSERT_TRUE(waitUntil([&] { return alert() && alert()->informativeText().startsWith("R"); }));
    EXPECT_EQ(alert()->informativeText(), "Rename is not supported by this device.");
}

// Regression: uploads read files still being downloaded, under names the download did not use,
// from a folder in /tmp that was never removed.
TEST_F(PhonePaneTest, PasteUploadsEachFileOnlyAfterItsDownloadAndCleansUp)
{
    show("A", {file("65537/5", "a:b.txt", 5), folder("65537/6", "skipped")});
    auto source = factory->repository("A");
    source->files.insert("65537/5", "hello");
    source->holdDownloads.insert("65537/5");
    browser.setSelectedItemIDs({"65537/5", "65537/6"});
    pane->copySelection();
    show("B", {});
    pane->pasteClipboardItems();
    ASSERT_TRUE(waitUntil([&] {
        return source->holding("65537/5") && !transfers.jobs().isEmpty() &&
               transfers.jobs().first().status == TransferStatus::Running;
    }));
    // A job queued now is listed after any the paste has queued so far.
    const auto elsewhere = TransferEndpoint::android("B", "65537/9", "x");
    const TransferJob marker = TransferJob::make(TransferType::Delete, elsewhere, elsewhere);
    transfers.enqueue(marker);
    ASSERT_TRUE(waitUntil([&] { return transfers.jobs().last().id == marker.id; }));
    ASSERT_EQ(transfers.jobs().size(), 2); // the folder is skipped; no upload yet
    const QString pasteFolder = transfers.jobs().first().destination.url.toLocalFile();
    EXPECT_TRUE(
        pasteFolder.startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));

    source->releaseDownload("65537/5");
    ASSERT_TRUE(waitUntil([&] {
        return transfers.jobs().size() == 3 &&
               transfers.jobs().last().status == TransferStatus::Completed;
    }));
    const TransferJob upload = transfers.jobs().last();
    EXPECT_EQ(upload.destination, TransferEndpoint::android("B", "65537/0", "a_b.txt"));
    EXPECT_EQ(factory->repository("B")->uploaded.value("65537/0/a_b.txt"), "hello");
    ASSERT_TRUE(waitUntil([&] { return !QDir(QFileInfo(pasteFolder).path()).exists(); }));
}

TEST(BreadcrumbBarTest, CrumbsButTheLastReportTheirPositionAsOneLineOfPlainText)
{
    BreadcrumbBar bar;
    QList<qsizetype> taps;
    QObject::connect(&bar, &BreadcrumbBar::tapped, [&](qsizetype index) { taps.append(index); });
    bar.setBreadcrumbs({{"Internal", "1/0"}, {"a&b\nc", "1/2"}, {QString(1000, 'x'), "1/3"}});
    const auto buttons = bar.crumbButtons();
    ASSERT_EQ(buttons.size(), 3);
    EXPECT_EQ(buttons[1]->text(), "a&&b c");
    EXPECT_EQ(buttons[1]->accessibleName(), "a&b c");
    EXPECT_LT(buttons[2]->text().size(), 1000); // elided
    EXPECT_FALSE(buttons[2]->isEnabled());
    buttons[0]->click();
    buttons[1]->click();
    buttons[2]->click();
    EXPECT_EQ(taps, QList<qsizetype>({0, 1}));
    bar.setBreadcrumbs({});
    EXPECT_TRUE(bar.crumbButtons().isEmpty());
}

} // namespace
