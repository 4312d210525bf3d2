#include "app/app_state.h"
#include "app/application_windows.h"
#include "app/consent_view.h" // completes the windows' pointer to it
#include "app/content_view.h"
#include "app/fake_app_options.h"
#include "app/main_window.h"
#include "app/quillbay_app.h"
#include "browsing/android_browser_pane.h"
#include "browsing/breadcrumb_bar.h"
#include "browsing/computer_browser_pane.h"
#include "browsing/computer_folder_model.h"
#include "browsing/device_sidebar_model.h"
#include "browsing/device_sidebar_view.h"
#include "browsing/file_browser_list.h"
#include "browsing/file_grid_view.h"
#include "browsing/folder_item_model.h"
#include "browsing/phone_item_transferable.h"
#include "browsing/phone_pane_drop_handler.h"
#include "browsing/phone_pane_toolbar.h"
#include "browsing/rename_sheet.h"
#include "browsing_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/device/device_lister.h"
#include "core/device/mtp_device_manager.h"
#include "core/transfer/transfer_queue_actor.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "platform/preference_store.h"
#include "platform/usb_hotplug_source.h"
#include "ui_common/colour_contrast.h"
#include "ui_common/command_bus.h"
#include "ui_common/empty_state_view.h"
#include "ui_common/observable_flag.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/symbol_label.h"
#include "wifi/pending_outgoing_files_registry.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"
#include "wifi/wifi_peer_registry.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>

using namespace qb;
using namespace qb::test;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new WidgetApplicationEnvironment);

const StorageRoot kInternal{"65537", "Internal", "65537/0", {}, {}};

// The jobs queued so far: a job queued now is listed after anything an action queued before.
QList<TransferJob> jobsQueuedSoFar(TransferQueueViewModel& transfers)
{
    const auto elsewhere = TransferEndpoint::android("other", "65537/9", "x");
    const TransferJob marker = TransferJob::make(TransferType::Delete, elsewhere, elsewhere);
    transfers.enqueue(marker);
    EXPECT_TRUE(waitUntil(
        [&] { return !transfers.jobs().isEmpty() && transfers.jobs().last().id == marker.id; }));
    return transfers.jobs().first(transfers.jobs().size() - 1);
}

// Waits, taking no publication on this thread, until the engine has logged the completion of
// each of `jobs`: clearing the completed jobs after that clears them.
bool engineCompleted(const LogCapture& log, const QList<QUuid>& jobs)
{
    const auto done = [&] {
        const QStringList lines = log.lines();
        return std::ranges::all_of(jobs, [&](const QUuid& id) {
            return lines.contains("Job completed: " + id.toString(QUuid::WithoutBraces));
        });
    };
    for (int i = 0; i < 4000 && !done(); ++i)
        QThread::msleep(5);
    return done();
}

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
    EXPECT_FALSE(handler->handleDrop(drop, Qt::NoModifier)) << "refused, not taken and lost";

    // A chosen phone wins over the guide; without storages it shows that.
    CommandBus::shared().post(Notifications::showSetupGuide, true);
    devices.setSelectedDevice(Device{"A", "A", Device::ConnectionType::UsbMTP, {}, true});
    EXPECT_EQ(pane->content(), PhoneFileActions::Content::NoStorage);
    CommandBus::shared().post(Notifications::showSetupGuide, false);
}

// Guards against a drop on "Loading…" being refused although the whole file area is the target,
// and against a web link being taken (highlighted, then dropped in silence).
TEST_F(PhonePaneTest, DragsAreTakenOverTheWholeFileAreaOnlyWhenTheyHoldFiles)
{
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile("/tmp/a.txt")});
    QMimeData link;
    link.setUrls({QUrl("https://example.org/a.txt")});
    const auto enter = [](QWidget* area, const QMimeData& data) {
        QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &event);
        return event.isAccepted();
    };
    QWidget* loading = pane->fileList()->loadingView();
    EXPECT_FALSE(enter(loading, file)) << "no folder listed";

    select("A"); // its listing stays open
    ASSERT_TRUE(waitUntil([&] { return browser.isLoading() && !browser.deviceId().isEmpty(); }));
    ASSERT_EQ(pane->fileList()->currentWidget(), loading);
    EXPECT_TRUE(enter(loading, file));
    EXPECT_FALSE(enter(loading, link));
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

    // A deletion asked about B's file is dropped once C is listed instead: the same object id
    // would name another file there.
    browser.setSelectedItemIDs({"65537/7"});
    pane->requestDeleteSelected();
    ASSERT_NE(alert(), nullptr);
    factory->repository("C")->ready.insert("65537/0", {});
    factory->release("C");
    ASSERT_TRUE(waitUntil([&] { return browser.deviceId() == "C"; }));
    for (QAbstractButton* button : alert()->buttons()) {
        if (button->text() == "Delete")
            button->click();
    }
    EXPECT_EQ(jobsQueuedSoFar(transfers).size(), 1);
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

// Regression: a New Folder sheet confirmed after its phone had gone (the pane listing another
// phone meanwhile) made the folder in the other phone's top folder.
TEST_F(PhonePaneTest, NewFolderIsMadeOnlyWhereItsSheetWasOpened)
{
    const auto confirm = [&](const QString& name) {
        auto* field = pane->activeDialog()->findChild<QLineEdit*>();
        field->setText(name);
        QTest::keyClick(field, Qt::Key_Return);
    };
    show("A", {folder("65537/1", "sub")});
    factory->repository("A")->ready.insert("65537/1", {});
    pane->showCreateFolder();
    show("B", {}); // the sheet stays open meanwhile
    ASSERT_NE(pane->activeDialog(), nullptr);
    confirm("on A");

    // The same phone, but another folder by now.
    show("A", {folder("65537/1", "sub")});
    pane->showCreateFolder();
    browser.open(browser.items().first());
    ASSERT_EQ(browser.currentFolderPath(), "65537/1");
    confirm("in top folder");

    pane->showCreateFolder();
    confirm("here");

    // The phone was pulled and another took its id; it shows the same folder by now.
    pane->showCreateFolder();
    const Device other{"A", "A", Device::ConnectionType::UsbMTP, {kInternal}, true, 7};
    devices.handle(DeviceEvent::disconnected("A"));
    devices.handle(DeviceEvent::connected(other));
    devices.setSelectedDevice(other);
    devices.setSelectedStorageRoot(kInternal);
    ASSERT_TRUE(waitUntil([&] {
        return browser.attachment() == 7 && !browser.isLoading() && browser.items().size() == 1;
    }));
    browser.open(browser.items().first());
    ASSERT_EQ(browser.currentFolderPath(), "65537/1");
    ASSERT_NE(pane->activeDialog(), nullptr);
    confirm("on the other phone");
    QList<TransferEndpoint> made;
    for (const TransferJob& job : jobsQueuedSoFar(transfers))
        made.append(job.source);
    EXPECT_EQ(made, QList<TransferEndpoint>{TransferEndpoint::android("A", "65537/1", "here")});
}

// Regression: a file selected and then hidden by the search was deleted from the phone by
// "Delete selected" (and downloaded, and copied) while no listed row was highlighted.
TEST_F(PhonePaneTest, ActionsLeaveSelectedFilesTheSearchHidesAlone)
{
    show("A", {file("65537/1", "a.txt"), file("65537/2", "notes.txt"), folder("65537/3", "x")});
    QTableView* table = pane->fileList()->table();
    PhonePaneToolbar* toolbar = pane->toolbar();
    QToolButton* remove = toolbar->deleteButton();
    browser.setSelectedItemIDs({"65537/2"});
    EXPECT_TRUE(remove->isEnabled());

    browser.setSearchQuery("a.txt");
    ASSERT_EQ(table->model()->rowCount(), 1);
    EXPECT_TRUE(selectedRowIds(table).isEmpty());
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_FALSE(toolbar->downloadButton()->isEnabled());
    browser.setSearchQuery("");
    EXPECT_EQ(selectedRowIds(table), QStringList{"65537/2"});
    EXPECT_TRUE(remove->isEnabled());
    EXPECT_TRUE(toolbar->downloadButton()->isEnabled());
    browser.setSearchQuery("a.txt");

    pane->copySelection();
    EXPECT_TRUE(pane->clipboardItems().isEmpty());
    pane->requestDeleteSelected();
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->text(), "Delete 0 item(s)?");
    alert()->reject();
    // An item's own "Delete" asks about that item, not the hidden one as well.
    pane->confirmDelete(browser.filteredItems().at(0));
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->text(), "Delete 1 item(s)?");
    const auto repo = factory->repository("A");
    const qsizetype listings = repo->calls().filter("list").size();
    for (QAbstractButton* button : alert()->buttons()) {
        if (button->text() == "Delete")
            button->click();
    }
    EXPECT_TRUE(browser.selectedItemIDs().isEmpty());
    browser.setSelectedItemIDs({"65537/2"});
    pane->downloadSelected();
    EXPECT_TRUE(browser.selectedItemIDs().isEmpty());

    const QList<TransferJob> jobs = jobsQueuedSoFar(transfers);
    ASSERT_EQ(jobs.size(), 1);
    EXPECT_EQ(jobs.first().type, TransferType::Delete);
    EXPECT_EQ(jobs.first().source.path, "65537/1");

    // Return opens no hidden folder either. The deletion lists the folder again: the key is
    // pressed once the hidden folder is listed, not on "Loading…" with nothing listed.
    ASSERT_TRUE(waitUntil([&] {
        return repo->calls().filter("list").size() > listings && !browser.isLoading() &&
               browser.items().size() == 3;
    }));
    browser.setSelectedItemIDs({"65537/3"});
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(browser.currentFolderPath(), "65537/0");
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
// from a folder in /tmp that was never removed; pasted files arrived under the names the
// computer's downloads clean ("a_b.txt") instead of their own.
TEST_F(PhonePaneTest, PasteUploadsEachFileOnlyAfterItsDownloadUnderItsOwnNameAndCleansUp)
{
    show("A", {file("65537/5", "a:b.txt", 5), folder("65537/6", "skipped"),
               file("65537/7", "back\\slash?.txt", 3)});
    auto source = factory->repository("A");
    source->files.insert("65537/5", "hello");
    source->files.insert("65537/7", "bye");
    source->holdDownloads.insert("65537/5");
    browser.setSelectedItemIDs({"65537/5", "65537/6", "65537/7"});
    pane->copySelection();
    show("B", {});
    pane->pasteClipboardItems();
    ASSERT_TRUE(waitUntil([&] {
        return source->holding("65537/5") && !transfers.jobs().isEmpty() &&
               transfers.jobs().first().status == TransferStatus::Running;
    }));
    ASSERT_TRUE(waitUntil([&] { return transfers.jobs().size() == 3; }));
    const QList<TransferJob> queued = jobsQueuedSoFar(transfers);
    // The folder is skipped; the second file's upload follows its download, the first waits.
    ASSERT_EQ(queued.size(), 3);
    EXPECT_EQ(queued.at(2).destination,
              TransferEndpoint::android("B", "65537/0", "back\\slash?.txt"));
    const QString pasteFolder = queued.first().destination.url.toLocalFile();
    EXPECT_TRUE(
        pasteFolder.startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));

    source->releaseDownload("65537/5");
    ASSERT_TRUE(waitUntil([&] {
        return transfers.jobs().size() == 5 &&
               transfers.jobs().last().status == TransferStatus::Completed;
    }));
    EXPECT_EQ(transfers.jobs().last().destination,
              TransferEndpoint::android("B", "65537/0", "a:b.txt"));
    const auto target = factory->repository("B");
    EXPECT_EQ(target->uploaded.value("65537/0/a:b.txt"), "hello");
    EXPECT_EQ(target->uploaded.value("65537/0/back\\slash?.txt"), "bye");
    EXPECT_EQ(target->uploaded.size(), 2);
    ASSERT_TRUE(waitUntil([&] { return !QDir(QFileInfo(pasteFolder).path()).exists(); }));
}

// Regression: a computer file reached the phone only by a drag; Ctrl+C in the computer pane and
// Ctrl+V in the phone's list did nothing.
TEST_F(PhonePaneTest, ComputerFilesCopiedByKeysPasteAsTheirDropWouldAndPhoneCopiesStillPaste)
{
    show("A", {file("65537/5", "p.txt", 1)});
    QTemporaryDir temp;
    QDir(temp.path()).mkpath("files/sub");
    QFile a(temp.filePath("files/a.txt"));
    ASSERT_TRUE(a.open(QIODevice::WriteOnly) && a.write("abc") == 3);
    a.close();
    QSettingsPreferenceStore preferences(temp.filePath("prefs.ini"));
    preferences.setValue("downloadFolder", temp.filePath("files"));
    ComputerBrowserPane computer(PaneContext{&devices, &transfers, &preferences, {}, nullptr});
    computer.show();
    ASSERT_TRUE(waitUntil(
        [&] { return !computer.model().isLoading() && computer.model().rowCount() == 2; }));
    computer.view().selectionModel()->select(
        computer.model().index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(&computer.view(), Qt::Key_C, Qt::ControlModifier);
    const QUrl copied = QUrl::fromLocalFile(temp.filePath("files/a.txt"));
    const QMimeData* onClipboard = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(onClipboard, nullptr);
    EXPECT_EQ(onClipboard->urls(), QList<QUrl>({copied}));

    QTest::keyClick(pane->fileList()->table(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return transfers.jobs().size() == 1; }));
    const TransferJob upload = transfers.jobs().first();
    EXPECT_EQ(upload.type, TransferType::Upload);
    EXPECT_EQ(upload.source.url, copied);
    EXPECT_EQ(upload.destination.deviceId, "A");
    EXPECT_EQ(upload.destination.path, "65537/0");
    EXPECT_EQ(upload.destination.name, "a.txt");

    // Phone items copied after the files are what Ctrl+V pastes, through the computer.
    browser.setSelectedItemIDs({"65537/5"});
    QTest::keyClick(pane->fileList()->table(), Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(pane->fileList()->table(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return transfers.jobs().size() >= 2; }));
    EXPECT_EQ(transfers.jobs().at(1).type, TransferType::Download);
    EXPECT_EQ(transfers.jobs().at(1).source.name, "p.txt");

    // An empty folder shows a notice in place of the table; the key reaches it there.
    show("B", {});
    const qsizetype queued = transfers.jobs().size();
    QTest::keyClick(pane->fileList()->noticeView(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([&] { return transfers.jobs().size() > queued; }));
}

// Guards against a paste of files copied on a phone that has left since fetching them from
// another phone that now has its id (Linux hands out the bus address again).
TEST_F(PhonePaneTest, APasteOfFilesCopiedOnAPhoneThatLeftFetchesNothingFromAnother)
{
    const auto showAttachment = [&](quint64 attachment) {
        const Device phone{"A", "A", Device::ConnectionType::UsbMTP, {kInternal}, true, attachment};
        devices.handle(DeviceEvent::connected(phone));
        devices.setSelectedDevice(phone);
        devices.setSelectedStorageRoot(kInternal);
        return waitUntil([&] {
            return browser.attachment() == attachment && !browser.isLoading() &&
                   browser.items().size() == 1;
        });
    };
    const auto phone = factory->repository("A");
    phone->ready.insert("65537/0", {file("65537/5", "a.txt", 5)});
    phone->files.insert("65537/5", "hello");
    ASSERT_TRUE(showAttachment(1));
    browser.setSelectedItemIDs({"65537/5"});
    pane->copySelection();
    devices.handle(DeviceEvent::disconnected("A"));
    ASSERT_TRUE(showAttachment(2));

    pane->pasteClipboardItems();
    ASSERT_TRUE(waitUntil([&] {
        return !transfers.jobs().isEmpty() && isFinished(transfers.jobs().first().status);
    }));
    ASSERT_EQ(transfers.jobs().first().status, TransferStatus::Failed);
    EXPECT_EQ(transfers.jobs().first().error->localizedMessage, "Device 'A' not found.");
    EXPECT_EQ(phone->callCount("download"), 0);
}

// Regression: a download completed and cleared by "Clear Completed" before the pane saw it
// completed never had its upload queued, and the file silently never reached the phone.
TEST_F(PhonePaneTest, ClearingCompletedJobsDuringAPasteDropsNoFile)
{
    LogCapture log;
    show("A", {file("65537/5", "a.txt", 1), file("65537/6", "b.txt", 1)});
    auto source = factory->repository("A");
    source->holdDownloads = {"65537/5", "65537/6"};
    browser.setSelectedItemIDs({"65537/5", "65537/6"});
    pane->copySelection();
    show("B", {});
    pane->pasteClipboardItems();
    ASSERT_TRUE(
        waitUntil([&] { return source->holding("65537/5") && source->holding("65537/6"); }));
    const QString pasteFolder =
        QFileInfo(transfers.jobs().first().destination.url.toLocalFile()).path();

    // Both complete and are cleared while this thread takes no publication.
    ASSERT_TRUE(waitUntil([&] { return transfers.jobs().size() == 2; }));
    QList<QUuid> downloads;
    for (const TransferJob& job : transfers.jobs())
        downloads.append(job.id);
    source->releaseDownload("65537/5");
    source->releaseDownload("65537/6");
    ASSERT_TRUE(engineCompleted(log, downloads));
    engine.clearCompleted().waitForFinished();

    const auto target = factory->repository("B");
    ASSERT_TRUE(waitUntil([&] { return target->uploaded.size() == 2; }));
    EXPECT_TRUE(target->uploaded.contains("65537/0/a.txt"));
    EXPECT_TRUE(target->uploaded.contains("65537/0/b.txt"));
    ASSERT_TRUE(waitUntil([&] { return !QDir(pasteFolder).exists(); }));
}

// Regression: an upload that completed and was cleared before the pane saw it completed left
// the folder on screen without the new file.
TEST_F(PhonePaneTest, TheFolderShownIsListedAgainAfterAJobClearedBeforeThePaneSawIt)
{
    LogCapture log;
    show("B", {});
    const auto target = factory->repository("B");
    const int listings = int(target->calls().filter("list").size());
    QTemporaryDir local;
    QFile saved(local.filePath("new.txt"));
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
    saved.write("new");
    saved.close();
    target->ready.insert("65537/0", {file("65537/9", "new.txt", 3)});
    const TransferJob upload = TransferJob::make(
        TransferType::Upload, TransferEndpoint::local(QUrl::fromLocalFile(saved.fileName())),
        TransferEndpoint::android("B", "65537/0", "new.txt"), 3);
    target->setHold("upload", true);
    transfers.enqueue(upload);
    const auto held = target->waitForCall("upload");
    ASSERT_TRUE(held);
    // Done and cleared while this thread takes no publication.
    target->succeed(*held);
    ASSERT_TRUE(engineCompleted(log, {upload.id}));
    engine.clearCompleted().waitForFinished();

    ASSERT_TRUE(waitUntil([&] { return namesOf(browser.items()) == QStringList{"new.txt"}; }));
    EXPECT_GT(target->calls().filter("list").size(), listings);
    EXPECT_TRUE(transfers.jobs().isEmpty());
}

// Regression: the paste folder went as soon as every job had ended, so "Retry" on a failed
// upload always failed with "Item not found".
TEST_F(PhonePaneTest, AFailedPasteUploadKeepsItsFileUntilRetriedOrCleared)
{
    show("A", {file("65537/5", "a.txt", 1), file("65537/6", "b.txt", 1)});
    browser.setSelectedItemIDs({"65537/5", "65537/6"});
    pane->copySelection();
    show("B", {});
    const auto target = factory->repository("B");
    target->failures.insert(
        "upload", std::make_exception_ptr(FileRepositoryError::transferFailed("name taken")));
    pane->pasteClipboardItems();
    const auto failedUploads = [&] {
        QList<TransferJob> failed;
        for (const TransferJob& job : transfers.jobs()) {
            if (job.type == TransferType::Upload && job.status == TransferStatus::Failed)
                failed.append(job);
        }
        return failed;
    };
    ASSERT_TRUE(waitUntil([&] { return failedUploads().size() == 2; }, 20000));
    const TransferJob first = failedUploads().at(0), second = failedUploads().at(1);
    const QString pasteFolder = QFileInfo(QFileInfo(first.source.url.toLocalFile()).path()).path();
    deliverPostedEvents();
    EXPECT_TRUE(QFileInfo::exists(first.source.url.toLocalFile()));

    target->failures.remove("upload");
    const QFuture<void> retried = transfers.retry(first.id);
    ASSERT_TRUE(waitUntil([&] { return retried.isFinished(); }));
    ASSERT_TRUE(
        waitUntil([&] { return target->uploaded.contains("65537/0/" + first.destination.name); }));
    deliverPostedEvents();
    EXPECT_TRUE(QFileInfo::exists(second.source.url.toLocalFile())); // still retryable

    transfers.clearCompleted(); // the failed one leaves the queue
    ASSERT_TRUE(waitUntil([&] { return !QDir(pasteFolder).exists(); }));
}

// A bus with nothing on it: the window's phones arrive through the device list itself.
class EmptyBus : public DeviceLister
{
public:
    std::optional<QList<ListedDevice>> listDevices() override { return QList<ListedDevice>{}; }
};

class NoHotplug : public UsbHotplugSource
{
public:
    bool start() override { return false; }
    void stop() override {}
};

// The real main window, on screen and active, over an application of fakes: an empty bus, phones
// that all report the same storage (65537, as most do) and list what their `ready` holds,
// settings and downloads in temporary folders.
class PaneInWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        installIconThemeFallback(); // as the application does at start
        factory->storages = {kInternal};
        preferences->setValue("hasAcceptedTerms", true);
        preferences->setValue("downloadFolder", temp.filePath("downloads"));
        QuillbayApp::Options options = fakeAppOptions(preferences);
        options.makeDeviceList = [this](DeviceListViewModel::ProviderInstaller install) {
            return std::make_unique<DeviceListViewModel>(
                std::make_unique<MTPDeviceManager>(std::make_shared<EmptyBus>(),
                                                   std::make_unique<NoHotplug>()),
                factory, std::move(install));
        };
        app = std::make_unique<QuillbayApp>(std::move(options));
        windows = std::make_unique<ApplicationWindows>(*app);
        MainWindow& window = windows->mainWindow();
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void TearDown() override
    {
        peers().setPeers({});
        windows.reset();
        app->shutdown();
    }

    AndroidBrowserPane& pane() { return *windows->mainWindow().content()->phonePane(); }
    // The table and the grid, each shown by its toolbar button in showIn().
    QList<QAbstractItemView*> fileViews()
    {
        return {pane().fileList()->table(), pane().fileList()->grid()};
    }
    void showIn(QAbstractItemView* view)
    {
        PhonePaneToolbar* toolbar = pane().toolbar();
        (view == pane().fileList()->table() ? toolbar->listButton() : toolbar->gridButton())
            ->click();
    }
    FileBrowserViewModel& browser() { return pane().browser(); }
    DeviceSidebarView& sidebar() { return *windows->mainWindow().content()->sidebar(); }
    DeviceListViewModel& devices() { return *app->appState().deviceListViewModel(); }
    TransferQueueViewModel& transfers() { return *app->appState().transferQueueViewModel(); }
    static WiFiPeerRegistry& peers() { return *WiFiRegistries::shared().peers; }

    // Attaches a phone whose folders (by path) hold the items given.
    void attach(const QString& id, const QHash<QString, QList<FileItem>>& folders)
    {
        factory->repository(id)->ready = folders;
        devices().handle(DeviceEvent::connected(
            Device{id, "Phone " + id, Device::ConnectionType::UsbMTP, {kInternal}, true}));
    }
    // Clicks a row of the sidebar, as the user does.
    void click(const QModelIndex& row)
    {
        QTreeView* tree = sidebar().tree();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(row).center());
        deliverPostedEvents();
    }
    void pick(const QString& deviceId)
    {
        const DeviceSidebarModel& model = sidebar().model();
        click(model.index(0, 0, model.deviceIndex(deviceId))); // its storage
        ASSERT_TRUE(waitUntil([&] {
            return pane().content() == PhoneFileActions::Content::Files &&
                   browser().deviceId() == deviceId && !browser().isLoading();
        }));
    }
    // Clicks the first row of a sidebar section.
    void clickFirstOf(DeviceSidebarModel::Section section)
    {
        const DeviceSidebarModel& model = sidebar().model();
        click(model.index(0, 0, model.index(section, 0)));
    }
    bool storageHighlighted(const QString& deviceId)
    {
        const DeviceSidebarModel& model = sidebar().model();
        const QModelIndex storage = model.index(0, 0, model.deviceIndex(deviceId));
        return storage.data(DeviceSidebarModel::HighlightedRole).toBool();
    }
    void openFolder(const QString& path)
    {
        const auto found = std::ranges::find(browser().items(), path, &FileItem::path);
        ASSERT_NE(found, browser().items().end());
        browser().open(*found);
        ASSERT_TRUE(waitUntil([&] { return !browser().isLoading(); }));
    }
    void goBackByKey()
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_BracketLeft, Qt::ControlModifier);
        ASSERT_TRUE(waitUntil([&] { return !browser().isLoading(); }));
    }

    QTemporaryDir temp;
    std::shared_ptr<QSettingsPreferenceStore> preferences =
        std::make_shared<QSettingsPreferenceStore>(temp.filePath("prefs.ini"));
    std::shared_ptr<FakeRepositoryFactory> factory = std::make_shared<FakeRepositoryFactory>();
    std::unique_ptr<QuillbayApp> app;
    std::unique_ptr<ApplicationWindows> windows;
};

const QHash<QString, QList<FileItem>> kPhoneA{
    {"65537/0", {folder("65537/1", "sub"), file("65537/2", "a.txt", 5)}},
    {"65537/1",
     {file("65537/3", "b.txt", 5), file("65537/4", "c.txt", 5), file("65537/5", "d.txt", 5)}}};

// Regressions: from the Wi-Fi page, the guide or "No Storage Found" the toolbar, the actions and
// Ctrl+[ still acted on the phone listed before (Delete selected deleted files out of sight);
// Ctrl+[ did nothing once the sidebar had the focus; coming back listed the storage's top folder
// anew, without the selection; with two phones both storage rows (id 65537) were highlighted.
TEST_F(PaneInWindowTest, DetoursLeaveThePhoneAloneAndKeepThePlace)
{
    attach("A", kPhoneA);
    attach("B", {{"65537/0", {}}});
    pick("A");
    openFolder("65537/1");
    click(sidebar().model().deviceIndex("A")); // the sidebar takes the focus
    ASSERT_TRUE(sidebar().tree()->hasFocus());
    goBackByKey();
    EXPECT_EQ(browser().currentFolderPath(), "65537/0");
    openFolder("65537/1");
    browser().setSelectedItemIDs({"65537/3"});
    pane().copySelection();
    const FileItem b = browser().items().first();
    PhonePaneToolbar* toolbar = pane().toolbar();

    const std::function<void()> detours[] = {
        [&] {
            if (peers().peers().isEmpty())
                peers().setPeers({WiFiPeer{"10.0.0.7", "Pixel", "123456", std::nullopt, {}}});
            clickFirstOf(DeviceSidebarModel::WifiSection);
        },
        [&] { clickFirstOf(DeviceSidebarModel::ActionsSection); }, // the setup guide
        [&] {
            devices().setSelectedStorageRoot(std::nullopt);
        }};
    for (const auto& detour : detours) {
        SCOPED_TRACE(&detour - detours);
        detour();
        ASSERT_NE(pane().content(), PhoneFileActions::Content::Files);
        EXPECT_FALSE(toolbar->deleteButton()->isVisibleTo(toolbar));
        EXPECT_FALSE(toolbar->downloadButton()->isVisibleTo(toolbar));
        EXPECT_FALSE(toolbar->newFolderButton()->isEnabled());
        EXPECT_FALSE(storageHighlighted("A"));
        pane().downloadSelected();
        pane().confirmDelete(b);
        pane().deleteSelected({b});
        pane().showCreateFolder();
        pane().createFolder("New");
        pane().pasteClipboardItems();
        pane().startRename(b);
        pane().renameItem(b, "A", "d.txt");
        EXPECT_EQ(pane().activeDialog(), nullptr);
        goBackByKey();

        // Back on the phone: its folder, selection, actions and highlight as they were.
        pick("A");
        EXPECT_EQ(browser().currentFolderPath(), "65537/1");
        EXPECT_EQ(browser().selectedItemIDs(), QSet<QString>{"65537/3"});
        EXPECT_TRUE(toolbar->deleteButton()->isVisibleTo(toolbar));
        EXPECT_TRUE(storageHighlighted("A"));
        EXPECT_FALSE(storageHighlighted("B"));
    }
    EXPECT_TRUE(jobsQueuedSoFar(transfers()).isEmpty());
    EXPECT_TRUE(factory->repository("A")->calls().filter("rename").isEmpty());

    // Another phone's storage is a new storage root, and so is A's after it.
    pick("B");
    EXPECT_TRUE(storageHighlighted("B"));
    EXPECT_FALSE(storageHighlighted("A"));
    pick("A");
    EXPECT_EQ(browser().currentFolderPath(), "65537/0");
    EXPECT_TRUE(browser().selectedItemIDs().isEmpty());
}

// Regressions: a right click selected the row (or, on empty space, cleared the selection) before
// its menu showed, so a dismissed menu or "Rename…" still changed the selection.
TEST_F(PaneInWindowTest, ARightClickLeavesTheSelectionToTheEntryChosen)
{
    attach("A", kPhoneA);
    pick("A");
    openFolder("65537/1");
    const QSet<QString> before{"65537/3", "65537/4"};
    const auto rightClick = [&](QAbstractItemView* view, const QPoint& at) {
        QTest::mousePress(view->viewport(), Qt::RightButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent request(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view->viewport(), &request);
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    };
    const auto choose = [](QMenu* menu, const QString& entry) {
        for (QAction* action : menu->actions())
            if (action->text() == entry)
                action->trigger();
        menu->close();
    };

    FileBrowserList& list = *pane().fileList();
    for (QAbstractItemView* view : fileViews()) {
        SCOPED_TRACE(view == list.table() ? "table" : "grid");
        showIn(view);
        // A finished download lists the folder again: that settles first.
        ASSERT_TRUE(waitUntil([&] {
            return transfers().finishedJobs().size() == transfers().jobs().size() &&
                   !browser().isLoading();
        }));
        browser().setSelectedItemIDs(before);
        const QPoint third = view->visualRect(view->model()->index(2, 0)).center();
        QMenu* menu = rightClick(view, third);
        ASSERT_NE(menu, nullptr);
        menu->close();
        EXPECT_EQ(browser().selectedItemIDs(), before);

        choose(rightClick(view, third), "Rename\u2026");
        EXPECT_EQ(browser().selectedItemIDs(), before);
        auto* sheet = qobject_cast<RenameSheet*>(pane().activeDialog());
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->text(), "d.txt");
        sheet->reject();

        // Right-clicking empty space clears nothing either.
        const QPoint empty(view->viewport()->width() - 4, view->viewport()->height() - 4);
        ASSERT_FALSE(view->indexAt(empty).isValid());
        menu = rightClick(view, empty);
        ASSERT_NE(menu, nullptr);
        menu->close();
        EXPECT_EQ(browser().selectedItemIDs(), before);

        choose(rightClick(view, third), "Download");
        EXPECT_EQ(jobsQueuedSoFar(transfers()).last().source.path, "65537/5");
    }
}

// Regression: Tab and Shift+Tab moved cell by cell inside the file table, wrapping and moving the
// selection with each press, so the keyboard never reached another control again.
TEST_F(PaneInWindowTest, TabAndShiftTabLeaveTheFilesWhileArrowsMoveWithin)
{
    attach("A", kPhoneA);
    pick("A");
    FileBrowserList& list = *pane().fileList();
    for (QAbstractItemView* view : fileViews()) {
        SCOPED_TRACE(view == list.table() ? "table" : "grid");
        showIn(view);
        ASSERT_TRUE(view->isVisible());
        view->setCurrentIndex(view->model()->index(0, 0));
        browser().setSelectedItemIDs({"65537/1"});
        for (const auto& [key, modifiers] : {std::pair{Qt::Key_Tab, Qt::NoModifier},
                                             std::pair{Qt::Key_Backtab, Qt::ShiftModifier}}) {
            view->setFocus();
            ASSERT_TRUE(view->hasFocus());
            QTest::keyClick(view, key, modifiers);
            EXPECT_NE(QApplication::focusWidget(), view) << "Shift: " << bool(modifiers);
            EXPECT_EQ(browser().selectedItemIDs(), QSet<QString>{"65537/1"});
        }
        view->setFocus();
        QTest::keyClick(view, view == list.table() ? Qt::Key_Down : Qt::Key_Right);
        EXPECT_TRUE(view->hasFocus());
        EXPECT_EQ(browser().selectedItemIDs(), QSet<QString>{"65537/2"});
    }
}

// A name as long as a phone allows, with markup and control characters, is shown whole and as
// the characters themselves; the bar scrolls sideways instead of shortening it.
TEST_F(PaneInWindowTest, BreadcrumbsShowWholeNamesAndScrollWhenTheTrailIsWide)
{
    const QString hostile = "<b>x</b>\t&" + QString(250, QChar(0x00e9)); // 255 characters
    attach("A", {{"65537/0", {folder("65537/1", hostile)}}, {"65537/1", {}}});
    pick("A");
    openFolder("65537/1");
    auto* bar = pane().findChild<BreadcrumbBar*>();
    QCoreApplication::sendPostedEvents(); // lays the strip out
    QToolButton* crumb = bar->crumbButtons().last();
    EXPECT_EQ(crumb->text(), QString(hostile).replace('\t', ' ').replace("&", "&&"));
    EXPECT_GE(crumb->width(), crumb->sizeHint().width());
    EXPECT_GT(bar->horizontalScrollBar()->maximum(), 0);
    EXPECT_LE(bar->width(), pane().width());
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
    EXPECT_EQ(buttons[2]->text(), QString(1000, 'x')); // whole: the bar scrolls instead
    EXPECT_FALSE(buttons[2]->isEnabled());
    buttons[0]->click();
    buttons[1]->click();
    buttons[2]->click();
    EXPECT_EQ(taps, QList<qsizetype>({0, 1}));
    bar.setBreadcrumbs({});
    EXPECT_TRUE(bar.crumbButtons().isEmpty());
}

// How many pixels of `image` (within `area`, if given) are close to `colour` and nearly as opaque.
int pixelsNear(const QImage& image, const QColor& colour, const QRect& area = {})
{
    int count = 0;
    const QRect inside = area.isNull() ? image.rect() : area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += pixel.alpha() > colour.alpha() * 3 / 4 &&
                     std::abs(pixel.red() - colour.red()) < 30 &&
                     std::abs(pixel.green() - colour.green()) < 30 &&
                     std::abs(pixel.blue() - colour.blue()) < 30;
        }
    }
    return count;
}

// Regression: after a change of theme the crumbs kept the old theme's link colour (dark blue on
// the dark theme's near-black), and the separators were the fallback theme's pale drawings.
TEST(BreadcrumbBarTest, CrumbsAndSeparatorsTakeTheColoursOfTheThemeOfTheMoment)
{
    installIconThemeFallback();
    BreadcrumbBar bar;
    bar.setBreadcrumbs({{"Internal", "1/0"}, {"sub", "1/2"}});
    QPalette dark = bar.palette();
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Link, QColor(0, 0, 238));
    dark.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    bar.setPalette(dark);
    const auto buttons = bar.crumbButtons();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_GE(
        contrastRatio(buttons[0]->palette().color(QPalette::ButtonText), dark.window().color()),
        4.5);
    EXPECT_EQ(buttons[1]->palette().color(QPalette::Disabled, QPalette::ButtonText),
              QColor(230, 230, 230));
    const auto separators = bar.findChildren<SymbolLabel*>();
    ASSERT_EQ(separators.size(), 1);
    const QImage drawn = separators[0]->pixmap().toImage();
    EXPECT_GT(pixelsNear(drawn, QColor(150, 150, 150)), 4);
}

// Regressions: "Delete" and Delete selected looked like every other entry (the property was set
// and nothing read it); "Open" and "Preview" had no symbol; folder and file symbols were drawn in
// the theme's own colours; the computer pane's header button did not say "Show in File Manager".
TEST_F(PaneInWindowTest, ThePaneToggleIsStruckThroughWhileTheComputerPaneIsHidden)
{
    const auto toggle = [&]() -> QToolButton* {
        for (QToolButton* button : pane().toolbar()->findChildren<QToolButton*>()) {
            if (button->accessibleName().endsWith(u"Computer Browser"))
                return button;
        }
        return nullptr;
    };
    ASSERT_NE(toggle(), nullptr);
    EXPECT_EQ(toggle()->accessibleName(), "Hide Computer Browser");
    const QImage plain = toggle()->icon().pixmap(16).toImage();
    ASSERT_FALSE(plain.isNull());
    toggle()->click();
    EXPECT_EQ(toggle()->accessibleName(), "Show Computer Browser");
    const QImage struck = toggle()->icon().pixmap(16).toImage();
    ASSERT_FALSE(struck.isNull());
    EXPECT_NE(struck, plain);
    toggle()->click();
    EXPECT_EQ(toggle()->icon().pixmap(16).toImage(), plain);
}

TEST_F(PaneInWindowTest, DeletingStandsOutAndSymbolsAreTintedAsTheKindOfItem)
{
    attach("A", kPhoneA);
    pick("A");
    FileBrowserList& list = *pane().fileList();
    const QColor accent = QApplication::palette().color(QPalette::Highlight);
    const QColor secondary = QApplication::palette().color(QPalette::PlaceholderText);
    const QColor red = destructiveColour();
    for (int row = 0; row < list.model()->rowCount(); ++row) {
        const QIcon icon = list.model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        const QImage drawn = icon.pixmap(16).toImage();
        const bool isFolder = list.model()->itemAt(row).isDirectory;
        EXPECT_GT(pixelsNear(drawn, isFolder ? accent : secondary), 8) << row;
        EXPECT_EQ(pixelsNear(drawn, isFolder ? secondary : accent), 0) << row;
    }

    browser().setSelectedItemIDs({"65537/2"});
    PhonePaneToolbar* toolbar = pane().toolbar();
    EXPECT_GT(pixelsNear(toolbar->deleteButton()->grab().toImage(), red), 8);
    EXPECT_EQ(pixelsNear(toolbar->refreshButton()->grab().toImage(), red), 0);
    toolbar->deleteButton()->click();
    auto* confirm = qobject_cast<QMessageBox*>(pane().activeDialog());
    ASSERT_NE(confirm, nullptr);
    for (QAbstractButton* button : confirm->buttons()) {
        SCOPED_TRACE(button->text().toStdString());
        EXPECT_EQ(pixelsNear(button->grab().toImage(), red) > 8, button->text() == "Delete");
    }
    confirm->reject();

    QTableView* table = list.table();
    const QPoint at = table->visualRect(table->model()->index(1, 0)).center();
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(table->viewport(), &request);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    const QImage drawn = menu->grab().toImage();
    const QList<QAction*> actions = menu->actions();
    const auto entry = [&](const QString& text) {
        const auto found = std::ranges::find(actions, text, &QAction::text);
        return found == actions.end() ? nullptr : *found;
    };
    const auto area = [&](const QString& text) {
        const QRect rect = menu->actionGeometry(entry(text));
        return QRect(rect.topLeft() * drawn.devicePixelRatio(),
                     rect.size() * drawn.devicePixelRatio());
    };
    ASSERT_TRUE(entry("Delete") && entry("Download"));
    EXPECT_FALSE(entry(list.model()->itemAt(1).isDirectory ? "Open" : "Preview")->icon().isNull());
    EXPECT_GT(pixelsNear(drawn, red, area("Delete")), 50); // text and symbol
    EXPECT_EQ(pixelsNear(drawn, red, area("Download")), 0);
    menu->close();

    const auto buttons =
        windows->mainWindow().content()->computerPane()->findChildren<QToolButton*>();
    EXPECT_TRUE(std::ranges::any_of(
        buttons, [](QToolButton* button) { return button->toolTip() == "Show in File Manager"; }));
}

} // namespace
