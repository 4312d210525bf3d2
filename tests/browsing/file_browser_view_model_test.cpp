#include "browsing/file_browser_view_model.h"
#include "browsing/file_item_format.h"
#include "browsing/file_list_menu.h"
#include "browsing/phone_file_actions.h"
#include "browsing/rename_sheet.h"
#include "browsing_fakes.h"
#include "core/device/file_repository_error.h"
#include "platform/preference_store.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using Action = FileMenuEntry::Action;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new WidgetApplicationEnvironment);

QDateTime day(int d)
{
    return QDateTime(QDate(2024, 1, d), QTime(12, 0), Qt::UTC);
}

TEST(FileSortOrderTest, EveryOrderPutsFoldersFirstAndKeepsTiesInInputOrder)
{
    const QList<FileItem> items{
        file("1", "notes.txt", 10, day(3)), folder("2", "Zeta"),
        file("3", "Notes.txt", 10, day(1)), file("4", "a.PDF", std::nullopt, std::nullopt),
        folder("5", "alpha.2024"),          file("6", "README", 0, day(2)),
        file("7", "b.pdf", 500, day(2)),    file("8", "c.zip", 20, day(5)),
    };
    // Folders tie at size 0; a missing size counts as 0 and a missing date as the distant past.
    // Type: no extension first, a.PDF ties with b.pdf, folders by their own extension.
    using enum FileSortOrder;
    const std::pair<FileSortOrder, QString> cases[] = {
        {NameAscending, "alpha.2024 Zeta a.PDF b.pdf c.zip notes.txt Notes.txt README"},
        {NameDescending, "Zeta alpha.2024 README notes.txt Notes.txt c.zip b.pdf a.PDF"},
        {SizeAscending, "Zeta alpha.2024 a.PDF README notes.txt Notes.txt c.zip b.pdf"},
        {SizeDescending, "Zeta alpha.2024 b.pdf c.zip notes.txt Notes.txt a.PDF README"},
        {DateAscending, "Zeta alpha.2024 a.PDF Notes.txt README b.pdf notes.txt c.zip"},
        {DateDescending, "Zeta alpha.2024 c.zip notes.txt README b.pdf Notes.txt a.PDF"},
        {Type, "Zeta alpha.2024 README a.PDF b.pdf notes.txt Notes.txt c.zip"},
    };
    for (const auto& [order, expected] : cases) {
        QList<FileItem> list = items;
        sortItems(list, order);
        EXPECT_EQ(namesOf(list).join(' '), expected) << toText(order).toStdString();
        // The comparison agrees with the sort on every neighbouring pair.
        for (qsizetype i = 1; i < list.size(); ++i)
            EXPECT_FALSE(areInIncreasingOrder(order, list.at(i), list.at(i - 1)));
    }
    EXPECT_EQ(fileSortOrderFromText("Size \u2193"), FileSortOrder::SizeDescending);
    EXPECT_EQ(fileSortOrderFromText("Size"), std::nullopt);
}

class FileBrowserViewModelTest : public ::testing::Test
{
protected:
    FileBrowserViewModel model;
    std::shared_ptr<GatedRepository> repo = std::make_shared<GatedRepository>();

    void startAtRoot()
    {
        model.setRepository(repo, "dev1");
        model.setRoot("1/0", "Internal");
    }
};

TEST_F(FileBrowserViewModelTest, ListingIsSortedFilteredAndNavigable)
{
    QSignalSpy loading(&model, &FileBrowserViewModel::isLoadingChanged);
    startAtRoot();
    EXPECT_TRUE(model.isLoading());
    repo->answer("1/0", {file("1/5", "zebra.txt"), folder("1/2", "DCIM"),
                         file("1/3", "annual_report.pdf"), file("1/4", "my notes.txt")});
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
    EXPECT_EQ(namesOf(model.items()),
              QStringList({"DCIM", "annual_report.pdf", "my notes.txt", "zebra.txt"}));
    EXPECT_EQ(loading.count(), 2);

    model.setSearchQuery("REPORT");
    EXPECT_EQ(namesOf(model.filteredItems()), QStringList{"annual_report.pdf"});
    model.setSearchQuery(" "); // not trimmed
    EXPECT_EQ(namesOf(model.filteredItems()), QStringList{"my notes.txt"});
    model.setSearchQuery("");

    // Opening a file changes nothing and lists nothing.
    const qsizetype callsBefore = repo->calls().size();
    model.open(model.items().at(1));
    EXPECT_EQ(repo->calls().size(), callsBefore);

    model.setSelectedItemIDs({"1/3"});
    model.open(model.items().at(0));
    EXPECT_EQ(model.currentFolderPath(), "1/2");
    repo->answer("1/2", {file("2/9", "IMG.jpg")});
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
    // The selection survives navigation, but names nothing here.
    EXPECT_EQ(model.selectedItemIDs(), QSet<QString>{"1/3"});
    EXPECT_TRUE(model.selectedItems().isEmpty());

    // The current crumb and indexes outside the trail do nothing.
    QSignalSpy crumbs(&model, &FileBrowserViewModel::breadcrumbsChanged);
    model.navigateToBreadcrumb(1);
    model.navigateToBreadcrumb(-1);
    model.navigateToBreadcrumb(7);
    EXPECT_EQ(crumbs.count(), 0);
    model.navigateToBreadcrumb(0);
    EXPECT_EQ(model.currentFolderPath(), "1/0");
    EXPECT_EQ(crumbs.count(), 1);
    model.navigateUp(); // one crumb left: nothing
    EXPECT_EQ(crumbs.count(), 1);

    // A new root clears the selection.
    model.setRoot("2/0", "SD card");
    EXPECT_TRUE(model.selectedItemIDs().isEmpty());
}

// Regression: a file selected and then hidden by the search was still deleted and downloaded.
TEST_F(FileBrowserViewModelTest, OnlySelectedItemsTheSearchListsAreActedOn)
{
    repo->ready.insert("1/0",
                       {file("1/3", "notes.txt"), file("1/2", "a.txt"), file("1/4", "b.txt")});
    startAtRoot();
    ASSERT_TRUE(waitUntil([&] { return model.items().size() == 3; }));
    model.setSelectedItemIDs({"1/3", "1/4", "elsewhere"});
    EXPECT_EQ(namesOf(model.visibleSelectedItems()), QStringList({"b.txt", "notes.txt"}));

    model.setSearchQuery("a.txt");
    EXPECT_TRUE(model.visibleSelectedItems().isEmpty());
    EXPECT_EQ(model.selectedItemIDs().size(), 3); // hidden, not dropped
    // Case-insensitive, like the listing's own filter.
    model.setSearchQuery("T");
    EXPECT_EQ(namesOf(model.visibleSelectedItems()), QStringList({"b.txt", "notes.txt"}));
    model.setSearchQuery("NOTES");
    EXPECT_EQ(namesOf(model.visibleSelectedItems()), QStringList{"notes.txt"});

    model.setSearchQuery("");
    EXPECT_EQ(model.visibleSelectedItems(), model.selectedItems());
    EXPECT_EQ(model.visibleSelectedItems().size(), 2);
}

TEST_F(FileBrowserViewModelTest, SortOrderChangeResortsWithoutListingAndKeepsTies)
{
    repo->ready.insert("1/0", {file("a", "a.txt", 5), file("b", "b.txt", 5), file("c", "c", 9)});
    startAtRoot();
    ASSERT_TRUE(waitUntil([&] { return model.items().size() == 3; }));
    model.applySortOrder(FileSortOrder::NameDescending);
    // A choice made while a listing runs applies to its result too.
    model.reload();
    model.applySortOrder(FileSortOrder::NameAscending);
    ASSERT_TRUE(waitUntil([&] { return model.items().size() == 3; }));
    EXPECT_EQ(namesOf(model.items()), QStringList({"a.txt", "b.txt", "c"}));
    model.applySortOrder(FileSortOrder::NameDescending);
    const qsizetype lists = repo->calls().size();
    model.applySortOrder(FileSortOrder::SizeAscending);
    EXPECT_EQ(namesOf(model.items()), QStringList({"b.txt", "a.txt", "c"}));
    EXPECT_EQ(repo->calls().size(), lists);
}

// Regressions: Refresh returned the repository's cached listing, hiding changes made on the
// phone; a reload that found no repository left a cancelled listing's spinner on forever.
TEST_F(FileBrowserViewModelTest, OnlyTheLatestListingPublishesAndRefreshForgetsTheCache)
{
    startAtRoot();
    model.open(folder("1/2", "DCIM"));
    model.navigateUp();
    ASSERT_EQ(repo->calls(), QStringList({"list 1/0", "list 1/2", "list 1/0"}));
    // The two older listings end after the newest has started: one succeeds, one fails.
    repo->answer("1/2", {file("x", "stale.txt")});
    repo->answer("1/0", {}, std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
    deliverPostedEvents();
    EXPECT_TRUE(model.isLoading());
    EXPECT_FALSE(model.errorMessage().has_value());
    EXPECT_TRUE(model.items().isEmpty());

    repo->answer("1/0", {}, std::make_exception_ptr(FileRepositoryError::accessDenied("1/0")));
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
    EXPECT_EQ(model.errorMessage(), "Access denied to 1/0.");
    EXPECT_TRUE(model.items().isEmpty());

    repo->ready.insert("1/0", {file("1/8", "cached.txt")}); // the repository's cache
    model.refresh();
    deliverPostedEvents();
    EXPECT_TRUE(model.isLoading()); // the phone is asked again
    model.setRepository(nullptr, {});
    model.reload();
    EXPECT_FALSE(model.isLoading());
    repo->answer("1/0", {file("1/1", "late.txt")});
    deliverPostedEvents();
    EXPECT_TRUE(model.items().isEmpty());
}

// Guards against a phone pane left on "Loading…" for the length of a queue: every finished job
// reloaded the folder, emptied it, and dropped the listing that waited behind the next transfer.
TEST_F(FileBrowserViewModelTest, AFolderOnScreenStaysWhileReloadsWaitForTheRunningListing)
{
    const auto listings = [&] {
        return repo->calls().count("list 1/0");
    };
    startAtRoot();
    repo->answer("1/0", {file("1/1", "a.bin")});
    ASSERT_TRUE(waitUntil([&] { return model.items().size() == 1; }));

    // Jobs end while the listing waits for the transfer under way: one listing runs, and the
    // folder stays on screen, not loading.
    model.reload();
    model.reload();
    model.refresh();
    model.reload();
    EXPECT_EQ(listings(), 2);
    EXPECT_FALSE(model.isLoading());
    EXPECT_EQ(namesOf(model.items()), QStringList{"a.bin"});

    // The running listing is shown when it ends, then one more follows for what was asked since.
    repo->answer("1/0", {file("1/1", "a.bin"), file("1/2", "b.bin")});
    ASSERT_TRUE(waitUntil([&] { return model.items().size() == 2; }));
    EXPECT_EQ(listings(), 3);
    EXPECT_EQ(repo->renewals, 1);
    repo->answer("1/0", {file("1/1", "a.bin"), file("1/2", "b.bin"), file("1/3", "c.bin")});
    ASSERT_TRUE(waitUntil([&] { return model.items().size() == 3; }));
    deliverPostedEvents();
    EXPECT_EQ(listings(), 3);

    // Another folder is not on screen yet: it loads.
    model.open(folder("1/4", "DCIM"));
    EXPECT_TRUE(model.isLoading());
    EXPECT_TRUE(model.items().isEmpty());
}

TEST(PhoneFileActionsTest, JobsNameTheGivenPhoneAndFolder)
{
    const QList<FileItem> items{folder("1/2", "DCIM"), file("1/3", "a.jpg", 1200)};
    const auto downloads = PhoneFileActions::downloadJobs("dev", items, "/tmp/dl");
    ASSERT_EQ(downloads.size(), 2);
    EXPECT_EQ(downloads[0].source, TransferEndpoint::android("dev", "1/2", "DCIM"));
    EXPECT_EQ(downloads[0].totalBytes, 0);
    EXPECT_EQ(downloads[1].destination, TransferEndpoint::local(QUrl::fromLocalFile("/tmp/dl")));
    EXPECT_EQ(downloads[1].totalBytes, 1200);
    EXPECT_TRUE(PhoneFileActions::downloadJobs("", items, "/tmp").isEmpty());

    const auto created = PhoneFileActions::createFolderJob("dev", "1/2", "  ");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->destination, TransferEndpoint::android("dev", "1/2", "  "));
    EXPECT_FALSE(PhoneFileActions::createFolderJob("dev", "1/2", ""));
    EXPECT_FALSE(PhoneFileActions::createFolderJob("dev", "", "x"));

    QTemporaryDir dir;
    QSettingsPreferenceStore preferences(dir.filePath("settings.ini"));
    EXPECT_FALSE(PhoneFileActions::downloadFolder(&preferences).isEmpty());
    preferences.setValue("downloadFolder", "/not/there/yet");
    EXPECT_EQ(PhoneFileActions::downloadFolder(&preferences), "/not/there/yet");
}

TEST(PhoneFileActionsTest, FinishedJobsReloadOnlyWhenACompletedJobTouchedThePhone)
{
    auto job = [](TransferStatus status, TransferEndpoint source, TransferEndpoint destination) {
        TransferJob made = TransferJob::make(TransferType::Copy, source, destination);
        made.status = status;
        return made;
    };
    const auto local = TransferEndpoint::local(QUrl::fromLocalFile("/tmp/x"));
    const auto onA = TransferEndpoint::android("A", "1/2", "x");
    const auto onB = TransferEndpoint::android("B", "1/2", "x");
    using enum TransferStatus;
    EXPECT_TRUE(PhoneFileActions::touchesDevice({job(Completed, local, onA)}, "A"));
    EXPECT_TRUE(PhoneFileActions::touchesDevice({job(Completed, onA, local)}, "A"));
    EXPECT_TRUE(PhoneFileActions::touchesDevice({job(Completed, onA, onB)}, "A"));
    EXPECT_FALSE(PhoneFileActions::touchesDevice({job(Failed, local, onA)}, "A"));
    EXPECT_FALSE(PhoneFileActions::touchesDevice({job(Completed, local, onB)}, "A"));
    EXPECT_FALSE(PhoneFileActions::touchesDevice({job(Completed, local, onA)}, ""));
}

QList<Action> actionsOf(const QList<FileMenuEntry>& entries)
{
    QList<Action> actions;
    for (const auto& entry : entries)
        actions.append(entry.action);
    return actions;
}

TEST(FileListMenuTest, EntriesFollowTheSetAndTheItem)
{
    const FileItem dir = folder("1", "DCIM");
    const FileItem pic = file("2", "a.jpg");
    const auto sep = Action::Separator;
    EXPECT_EQ(actionsOf(FileListMenu::forTable({}, {}, false)), QList<Action>{Action::NewFolder});
    EXPECT_EQ(actionsOf(FileListMenu::forTable({}, {}, true)),
              QList<Action>({Action::NewFolder, sep, Action::Paste}));
    const auto single = FileListMenu::forTable({"1"}, {dir}, false);
    EXPECT_EQ(actionsOf(single), QList<Action>({Action::Open, sep, Action::Download, Action::Copy,
                                                Action::Rename, sep, Action::Delete}));
    EXPECT_EQ(single.first().label, "Open");
    EXPECT_EQ(FileListMenu::forTable({"2"}, {pic}, false).first().label, "Preview");
    // Two ids of which one is shown: neither Open nor Rename.
    EXPECT_EQ(actionsOf(FileListMenu::forTable({"2", "gone"}, {pic}, false)),
              QList<Action>({Action::Download, Action::Copy, sep, Action::Delete}));
    EXPECT_TRUE(FileListMenu::forTable({"gone"}, {}, false).isEmpty());
    EXPECT_TRUE(FileListMenu::forTile(pic).last().destructive);
}

TEST(FileItemFormatTest, MissingValuesShowADashAndTheKindIsTheLastExtension)
{
    EXPECT_EQ(FileItemFormat::sizeText(folder("1", "x")), "\u2014");
    EXPECT_EQ(FileItemFormat::sizeText(file("1", "x")), "\u2014");
    EXPECT_EQ(FileItemFormat::dateText(file("1", "x")), "\u2014");
    EXPECT_EQ(FileItemFormat::kindText(file("1", "archive.tar.GZ")), "GZ");
    EXPECT_EQ(FileItemFormat::kindText(folder("1", "photos.2024")), "Folder");
}

TEST(RenameSheetTest, NamesThePhoneCannotTakeAreRefusedWithAReason)
{
    for (const QString& bad :
         {QString("a/b"), QString("."), QString(".."), QString("a") + QChar(0)})
        EXPECT_TRUE(RenameSheet::problemWithName(bad)) << bad.toStdString();
    for (const QString& good :
         {QString("   "), QString("..."), QString("a.b"), QString("\u05d0 🙂")})
        EXPECT_FALSE(RenameSheet::problemWithName(good)) << good.toStdString();
}

} // namespace
