#include "browsing/computer_browser_pane.h"
#include "browsing/computer_folder_model.h"
#include "browsing/phone_item_transferable.h"
#include "core/device/device_model.h"
#include "core/transfer/transfer_queue_actor.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "file_system_spy.h"
#include "platform/preference_store.h"
#include "support/test_support.h"
#include "support/tooltip_text.h"
#include "ui_common/file_manager.h"
#include "ui_common/observable_flag.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;

namespace {

const auto* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment<QApplication>);

void makeFiles(const QString& folder, const QStringList& names)
{
    for (const QString& name : names) {
        if (name.endsWith('/')) {
            QDir(folder).mkpath(name);
            continue;
        }
        QFile file(folder + '/' + name);
        file.open(QIODevice::WriteOnly);
        file.write(name.toUtf8());
    }
}

QStringList names(const ComputerFolderModel& model)
{
    QStringList out;
    for (const ComputerEntry& entry : model.entries())
        out.append(entry.name);
    return out;
}

// Opens the entry named `name` of the folder shown, once that folder is listed.
void openEntry(ComputerBrowserPane& pane, const QString& name)
{
    ASSERT_TRUE(waitUntil([&] { return !pane.model().isLoading(); }));
    const QList<ComputerEntry>& entries = pane.model().entries();
    const auto found = std::ranges::find(entries, name, &ComputerEntry::name);
    ASSERT_NE(found, entries.end()) << name.toStdString();
    pane.open(*found);
}

class FakeFileManager : public FileManager
{
public:
    void showItem(const QString& path) override { calls.append("show " + path); }
    bool open(const QString& path) override
    {
        calls.append("open " + path);
        return true;
    }
    QStringList calls;
};

TEST(ComputerFolderModelTest, ShowsTheNewestListingFoldersFirstWithoutHiddenEntries)
{
    QTemporaryDir big, dir;
    QStringList many;
    for (int i = 0; i < 20000; ++i)
        many.append(QString("f%1").arg(i));
    makeFiles(big.path(), many);
    makeFiles(dir.path(), {"cherry", "Banana", "apple", "b/", ".hidden", ".config/", "A.JPG"});
    ComputerFolderModel model;
    int listed = 0;
    QObject::connect(&model, &ComputerFolderModel::listed, [&] { ++listed; });
    model.setDirectory(big.path());
    model.setDirectory(dir.path());
    EXPECT_TRUE(model.isLoading());
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
    QThreadPool::globalInstance()->waitForDone(); // the older listing has posted its end
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(listed, 1);
    EXPECT_EQ(names(model), QStringList({"b", "A.JPG", "apple", "Banana", "cherry"}));
    EXPECT_EQ(model.index(0, 1).data().toString(), "");        // a folder shows no size
    EXPECT_EQ(model.index(2, 1).data().toString(), "5 bytes"); // "apple"

    std::unique_ptr<QMimeData> drag(model.mimeData({model.index(2, 0), model.index(2, 1)}));
    EXPECT_EQ(drag->urls(), QList<QUrl>{QUrl::fromLocalFile(dir.filePath("apple"))});

    // Icons by extension, lower-cased; folders never reach the table.
    EXPECT_EQ(fileSymbolName("PHOTO.JPG", false), "photo");
    EXPECT_EQ(fileSymbolName("archive.tar.gz", false), "archivebox");
    EXPECT_EQ(fileSymbolName("README", false), "doc");
    // Android packages have a symbol of their own on the phone only.
    EXPECT_EQ(fileSymbolName("Game.APK", false), "doc");
    EXPECT_EQ(fileSymbolName("Game.APK", true), "app.badge");

    // A name of the file system is shown as it is, never as markup.
    makeFiles(dir.path(), {"<b>bold&amp;<img src=x>"});
    model.setDirectory(dir.path());
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
    const int bold = int(names(model).indexOf("<b>bold&amp;<img src=x>"));
    ASSERT_GE(bold, 0);
    EXPECT_EQ(tooltipText(model.index(bold, 0).data(Qt::ToolTipRole).toString()),
              "<b>bold&amp;<img src=x>");

    model.setDirectory(dir.filePath("missing"));
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(ComputerBrowserPaneTest, NavigatesFromTheStoredRootAndFollowsItsChange)
{
    QTemporaryDir dir;
    makeFiles(dir.path(), {"root/sub/deeper/", "root/sub/<b>x&amp;/", "root/sub/a.txt", "other/"});
    QSettingsPreferenceStore preferences(dir.filePath("prefs.ini"));
    preferences.setValue("downloadFolder", dir.filePath("root"));
    ObservableFlag shown(true);
    FakeFileManager files;
    FileManager::setShared(&files);
    PaneContext context;
    context.preferences = &preferences;
    context.showComputerPane = &shown;
    ComputerBrowserPane pane(context);
    pane.show();
    const QString root = dir.filePath("root");
    EXPECT_EQ(pane.navStack(), QStringList{root});

    openEntry(pane, "sub");
    // The crumb's tooltip is its path as it is, markup and all.
    openEntry(pane, "<b>x&amp;");
    const auto crumbs = pane.findChildren<QToolButton*>();
    const auto crumb =
        std::ranges::find_if(crumbs, [](QToolButton* b) { return b->text() == "<b>x&&amp;"; });
    ASSERT_NE(crumb, crumbs.end());
    EXPECT_EQ(tooltipText((*crumb)->toolTip()), root + "/sub/<b>x&amp;");
    pane.goBack();
    openEntry(pane, "a.txt"); // a file: nothing happens
    openEntry(pane, "deeper");
    EXPECT_EQ(pane.navStack().size(), 3);
    pane.goToPathIndex(-1);
    pane.goToPathIndex(1);
    EXPECT_EQ(pane.currentDirectory(), root + "/sub");
    pane.goBack();
    pane.goBack();
    EXPECT_EQ(pane.navStack(), QStringList{root});
    ASSERT_TRUE(waitUntil([&] { return !pane.model().isLoading(); }));
    EXPECT_EQ(names(pane.model()), QStringList{"sub"});

    pane.openQuickAccess(dir.filePath("other"));
    EXPECT_EQ(pane.navStack(), QStringList{dir.filePath("other")});
    pane.openInFileManager();
    pane.showInFileManager(root + "/sub");
    EXPECT_EQ(files.calls, QStringList({"open " + dir.filePath("other"), "show " + root + "/sub"}));

    // Another window changed the root: the pane follows it at once.
    preferences.setValue("downloadFolder", root + "/sub");
    EXPECT_EQ(pane.navStack(), QStringList{root + "/sub"});

    pane.hidePane();
    EXPECT_FALSE(shown.value());
    FileManager::setShared(nullptr);
}

// Regression: opening a folder asked the file system whether it was one on the GUI thread, so a
// folder on a mount that stopped answering froze the whole window until the mount answered.
TEST(ComputerBrowserPaneTest, OpeningAFolderLeavesEveryFileSystemCallToTheListing)
{
    QTemporaryDir dir;
    // The settings file stays out of the folder shown, whenever it is written.
    makeFiles(dir.path(), {"root/opened/inner/", "root/opened/x.txt", "root/file.txt"});
    QSettingsPreferenceStore preferences(dir.filePath("prefs.ini"));
    preferences.setValue("downloadFolder", dir.filePath("root"));
    PaneContext context;
    context.preferences = &preferences;
    ComputerBrowserPane pane(context);
    pane.resize(400, 300);
    pane.show();
    ASSERT_TRUE(waitUntil([&] { return pane.model().rowCount() == 2; }));
    QTreeView& view = pane.view();
    const QString opened = dir.filePath("root/opened");

    // Return on the folder's row, as the user opens it.
    watchFileSystemCalls(opened);
    view.setCurrentIndex(pane.model().index(0, 0));
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(pane.navStack().last(), opened);
    const auto* loading = pane.findChild<QProgressBar*>();
    ASSERT_NE(loading, nullptr);
    EXPECT_TRUE(loading->isVisible()) << "the pane shows its loading state meanwhile";
    ASSERT_TRUE(waitUntil([&] { return names(pane.model()) == QStringList({"inner", "x.txt"}); }));
    QThreadPool::globalInstance()->waitForDone();
    const QList<FileSystemCall> calls = watchedFileSystemCalls();
    watchFileSystemCalls({});
    EXPECT_EQ(callsOnWatchingThread(calls), QStringList());
    // The listing's own calls were seen, so none made here would have gone unseen.
    EXPECT_TRUE(std::ranges::any_of(calls, [&](const FileSystemCall& call) {
        return call.function == "opendir" && call.path == opened;
    }));
}

// Guards against a web link being highlighted and taken, and against a phone item whose phone
// has gone vanishing in silence: it is queued, for the engine to say the phone is not found.
TEST(ComputerBrowserPaneTest, TakesOnlyFilesAndPhoneItemsAndQueuesItemsOfGonePhones)
{
    QTemporaryDir dir;
    QSettingsPreferenceStore preferences(dir.filePath("prefs.ini"));
    preferences.setValue("downloadFolder", dir.path());
    TransferQueueActor engine;
    TransferQueueViewModel transfers(engine);
    PaneContext context;
    context.preferences = &preferences;
    context.transfers = &transfers;
    ComputerBrowserPane pane(context);
    const auto enter = [&](const QMimeData& data) {
        QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&pane, &event);
        return event.isAccepted() && pane.isTargeted();
    };
    QMimeData link;
    link.setUrls({QUrl("https://example.org/photo.jpg")});
    EXPECT_FALSE(enter(link));

    FileItem item{"65537/4", "a.jpg", "65537/4", false, 3, std::nullopt, std::nullopt};
    std::unique_ptr<QMimeData> drag(PhoneItemTransferable::toMimeData({{item, "gone", "65537/0"}}));
    EXPECT_TRUE(enter(*drag));
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, drag.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&pane, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(waitUntil([&] { return !transfers.jobs().isEmpty(); }));
    EXPECT_EQ(transfers.jobs().first().source.deviceId, "gone");
}

} // namespace
