#include "browsing/file_browser_view_model.h"
#include "browsing_fakes.h"
#include "core/device/file_repository_error.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;

namespace {

const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new WidgetApplicationEnvironment);

QDateTime day(int d)
{
    return QDateTime(QDate(2024, 1, d), QTime(12, 0), Qt::UTC);
}

QStringList sorted(QList<FileItem> items, FileSortOrder order)
{
    sortItems(items, order);
    return namesOf(items);
}

TEST(FileSortOrderTest, EveryOrderPutsFoldersFirstAndKeepsTiesInInputOrder)
{
    const QList<FileItem> items{
        file("1", "notes.txt", 10, day(3)), folder("2", "Zeta"),
        file("3", "Notes.txt", 10, day(1)), file("4", "a.PDF", std::nullopt, std::nullopt),
        folder("5", "alpha.2024"),          file("6", "README", 0, day(2)),
        file("7", "b.pdf", 500, day(2)),    file("8", "c.zip", 20, day(5)),
    };
    struct Case
    {
        FileSortOrder order;
        QStringList expected;
    };
    const QList<Case> cases{
        {FileSortOrder::NameAscending,
         {"alpha.2024", "Zeta", "a.PDF", "b.pdf", "c.zip", "notes.txt", "Notes.txt", "README"}},
        {FileSortOrder::NameDescending,
         {"Zeta", "alpha.2024", "README", "notes.txt", "Notes.txt", "c.zip", "b.pdf", "a.PDF"}},
        // Folders tie at size 0; a missing size counts as 0 among the empty files.
        {FileSortOrder::SizeAscending,
         {"Zeta", "alpha.2024", "a.PDF", "README", "notes.txt", "Notes.txt", "c.zip", "b.pdf"}},
        {FileSortOrder::SizeDescending,
         {"Zeta", "alpha.2024", "b.pdf", "c.zip", "notes.txt", "Notes.txt", "a.PDF", "README"}},
        // A missing date is the distant past: first ascending, last descending.
        {FileSortOrder::DateAscending,
         {"Zeta", "alpha.2024", "a.PDF", "Notes.txt", "README", "b.pdf", "notes.txt", "c.zip"}},
        {FileSortOrder::DateDescending,
         {"Zeta", "alpha.2024", "c.zip", "notes.txt", "README", "b.pdf", "Notes.txt", "a.PDF"}},
        // No extension first; a.PDF ties with b.pdf; folders ordered by their own extension.
        {FileSortOrder::Type,
         {"Zeta", "alpha.2024", "README", "a.PDF", "b.pdf", "notes.txt", "Notes.txt", "c.zip"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sorted(items, c.order), c.expected) << toText(c.order).toStdString();
        // The comparison agrees with the sort on every neighbouring pair.
        QList<FileItem> list = items;
        sortItems(list, c.order);
        for (qsizetype i = 1; i < list.size(); ++i)
            EXPECT_FALSE(areInIncreasingOrder(c.order, list.at(i), list.at(i - 1)));
    }
    EXPECT_EQ(fileSortOrderFromText("Size \u2193"), FileSortOrder::SizeDescending);
    EXPECT_EQ(fileSortOrderFromText("Size"), std::nullopt);
    EXPECT_EQ(allFileSortOrders().size(), 7);
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

TEST_F(FileBrowserViewModelTest, OnlyTheLatestListingPublishes)
{
    startAtRoot();
    model.open(folder("1/2", "DCIM"));
    model.navigateUp();
    ASSERT_EQ(repo->openListings(), 3);
    // The two older listings end after the newest has started: one succeeds, one fails.
    repo->answer("1/2", {file("x", "stale.txt")});
    repo->fail("1/0", std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
    QTest::qWait(20);
    EXPECT_TRUE(model.isLoading());
    EXPECT_FALSE(model.errorMessage().has_value());
    EXPECT_TRUE(model.items().isEmpty());

    repo->fail("1/0", std::make_exception_ptr(FileRepositoryError::accessDenied("1/0")));
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
    EXPECT_EQ(model.errorMessage(), "Access denied to 1/0.");
    EXPECT_TRUE(model.items().isEmpty());
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

// Regression: a reload that found no repository left a cancelled listing's spinner on forever.
TEST_F(FileBrowserViewModelTest, ReloadWithoutRepositoryStopsLoadingAndDropsTheRunningListing)
{
    startAtRoot();
    EXPECT_TRUE(model.isLoading());
    model.setRepository(nullptr, {});
    model.reload();
    EXPECT_FALSE(model.isLoading());
    repo->answer("1/0", {file("1/1", "late.txt")});
    QTest::qWait(20);
    EXPECT_TRUE(model.items().isEmpty());
}

// Regression: Refresh returned the repository's cached listing, hiding changes made on the phone.
TEST_F(FileBrowserViewModelTest, RefreshDropsTheCachedListingFirst)
{
    repo->ready.insert("1/0", {});
    startAtRoot();
    repo->clearCalls();
    model.refresh();
    EXPECT_EQ(repo->calls(), QStringList({"forget 1/0", "list 1/0"}));
}

} // namespace
