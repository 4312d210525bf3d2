#include "browsing/computer_browser_pane.h"
#include "browsing/computer_folder_model.h"
#include "browsing/computer_pane_relist.h"
#include "core/transfer/engine_test_support.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "file_system_spy.h"
#include "ui_common/empty_state_view.h"
#include "wifi/received_files_registry.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTreeView>

#include <gtest/gtest.h>

namespace qb::test {
namespace {

const auto* const kQtApp =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment<QApplication>);

QStringList shownNames(const ComputerFolderModel& model)
{
    QStringList out;
    for (const ComputerEntry& entry : model.entries())
        out.append(entry.name);
    return out;
}

QStringList selectedNames(const ComputerBrowserPane& pane)
{
    QStringList out;
    for (const QModelIndex& index : pane.view().selectionModel()->selectedRows())
        out.append(index.data().toString());
    return out;
}

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

TransferJob completed(TransferJob job)
{
    job.status = TransferStatus::Completed;
    return job;
}

// The pane over a folder, with the engine's queue and a received-files history of its own.
class ComputerPaneRelistTest : public EngineFixture
{
protected:
    ComputerPaneRelistTest()
    {
        preferences->setValue("downloadFolder", downloads());
        context.preferences = preferences.get();
        context.transfers = &transfers;
        context.wifi.received = &received;
    }

    std::unique_ptr<ComputerBrowserPane> showPane()
    {
        auto pane = std::make_unique<ComputerBrowserPane>(context);
        pane->resize(400, 300);
        pane->show();
        EXPECT_TRUE(waitUntil([&] { return !pane->model().isLoading(); }));
        return pane;
    }

    TransferQueueViewModel transfers{*engine};
    QTemporaryDir history;
    ReceivedFilesRegistry received{history.path()};
    PaneContext context;
};

// Guards against "Empty Folder" staying up after a download into the folder shown, until the
// user navigates; and against the window freezing when a job completes while the folder shown
// sits on a mount that stopped answering (the folders were compared on the GUI thread).
TEST_F(ComputerPaneRelistTest, ADownloadIntoTheFolderShownAppearsWithoutNavigating)
{
    const auto pane = showPane();
    const auto* empty = pane->findChild<EmptyStateView*>();
    ASSERT_TRUE(empty && empty->isVisible());
    QSignalSpy relists(&pane->relistTrigger(), &FolderRelistTrigger::relistDue);
    watchFileSystemCalls(downloads());

    // Done elsewhere, or not done: nothing to list again.
    QTemporaryDir elsewhere;
    const TransferJob away = downloadJob("away.jpg", elsewhere.path());
    ASSERT_TRUE(waitFor(transfers.enqueue(away)));
    ASSERT_TRUE(waitUntil([&] {
        const auto job = findJob(transfers.jobs(), away.id);
        return job && job->status == TransferStatus::Completed;
    }));
    emit transfers.jobsCompleted({[&] {
        TransferJob failed = downloadJob("x.jpg", downloads());
        failed.status = TransferStatus::Failed;
        return failed;
    }()});
    ASSERT_TRUE(waitUntil([&] { return !pane->relistTrigger().isChecking(); }));
    EXPECT_FALSE(pane->relistTrigger().isPending());

    // The destination as another spelling of the same folder.
    const TransferJob job = downloadJob("photo.jpg", downloads() + "/./");
    ASSERT_TRUE(waitFor(transfers.enqueue(job)));
    ASSERT_TRUE(waitUntil([&] { return shownNames(pane->model()) == QStringList{"photo.jpg"}; }));
    EXPECT_FALSE(empty->isVisible());
    EXPECT_TRUE(pane->view().isVisible());
    EXPECT_EQ(relists.count(), 1);
    EXPECT_EQ(pane->navStack(), QStringList{downloads()});
    const QList<FileSystemCall> calls = watchedFileSystemCalls();
    watchFileSystemCalls({});
    EXPECT_EQ(callsOnWatchingThread(calls), QStringList());
    EXPECT_TRUE(std::ranges::any_of(calls, [&](const FileSystemCall& call) {
        return call.function == "realpath" && call.path == downloads();
    })) << "the folders were compared";

    // Saving made the download's folder inside the one shown: that folder appears.
    const TransferJob within = downloadJob("photo.jpg", downloads() + "/From phone");
    ASSERT_TRUE(waitFor(transfers.enqueue(within)));
    ASSERT_TRUE(waitUntil([&] {
        return shownNames(pane->model()) == QStringList({"From phone", "photo.jpg"});
    }));
    EXPECT_EQ(relists.count(), 2);
}

// Guards against a burst of downloads relisting the folder once per file, and against a
// relisting that loses the user's selection and place in the list.
TEST_F(ComputerPaneRelistTest, ABurstRelistsOnceAndKeepsSelectionAndScroll)
{
    const auto base = [&](int i) {
        return QString("%1/f%2").arg(downloads()).arg(i, 4, 10, QChar('0'));
    };
    for (int i = 0; i < 1000; ++i)
        touch(base(i));
    const auto pane = showPane();
    QTreeView& view = pane->view();
    const int selected = int(shownNames(pane->model()).indexOf("f0750"));
    view.selectionModel()->select(pane->model().index(selected, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view.scrollTo(pane->model().index(selected, 0));
    const int scroll = view.verticalScrollBar()->value();
    ASSERT_GT(scroll, 0);
    view.setCurrentIndex(view.selectionModel()->selectedRows().value(0));
    QSignalSpy relists(&pane->relistTrigger(), &FolderRelistTrigger::relistDue);
    QSignalSpy resets(&pane->model(), &QAbstractItemModel::modelReset);

    // Thirty files come, after the selected row and before it; one goes.
    for (int i = 0; i < 30; ++i) {
        const QString name = QString("%1%2.jpg").arg(i % 2 ? "a" : "z").arg(i);
        touch(downloads() + "/" + name);
        emit transfers.jobsCompleted({completed(downloadJob(name, downloads()))});
    }
    ASSERT_TRUE(QFile::remove(base(1)));
    ASSERT_TRUE(waitUntil([&] { return pane->model().rowCount() == 1029; }));
    EXPECT_EQ(relists.count(), 1);
    const QStringList names = shownNames(pane->model());
    EXPECT_TRUE(names.contains("a1.jpg") && names.contains("z0.jpg") && !names.contains("f0001"));
    EXPECT_EQ(selectedNames(*pane), QStringList{"f0750"});
    EXPECT_EQ(view.verticalScrollBar()->value(), scroll);
    EXPECT_EQ(resets.count(), 0) << "rows were replaced, not inserted";
    EXPECT_EQ(view.currentIndex().data().toString(), "f0750");

    // Changes all over the folder: the rows are replaced as a whole; place and selection stay.
    for (int i = 0; i < 1000; ++i) {
        if (i % 2) {
            QFile::remove(base(i));
        } else {
            touch(base(i) + "-x");
            touch(base(i) + "-y");
        }
    }
    QList<ComputerEntry> relisted = ComputerFolderModel::list(downloads());
    ComputerFolderModel::sort(relisted);
    EXPECT_TRUE(ComputerFolderModel::diff(pane->model().entries(), relisted).replace);
    emit transfers.jobsCompleted({completed(downloadJob("f0000", downloads()))});
    ASSERT_TRUE(waitUntil([&] { return pane->model().rowCount() == 1530; }));
    EXPECT_EQ(relists.count(), 2);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(selectedNames(*pane), QStringList{"f0750"});
    EXPECT_EQ(view.verticalScrollBar()->value(), scroll);
}

// Guards against a file a phone sent over Wi-Fi staying out of the folder shown.
TEST_F(ComputerPaneRelistTest, AFileReceivedIntoTheFolderShownAppears)
{
    received.record(QUrl::fromLocalFile(downloads() + "/old.txt"), 1, "10.0.0.2", "Phone");
    const auto pane = showPane();
    QSignalSpy relists(&pane->relistTrigger(), &FolderRelistTrigger::relistDue);

    QTemporaryDir elsewhere;
    received.record(QUrl::fromLocalFile(elsewhere.filePath("a.txt")), 1, "10.0.0.2", "Phone");
    ASSERT_TRUE(waitUntil([&] { return !pane->relistTrigger().isChecking(); }));
    EXPECT_FALSE(pane->relistTrigger().isPending());

    touch(downloads() + "/sent.txt");
    received.record(QUrl::fromLocalFile(downloads() + "/sent.txt"), 0, "10.0.0.2", "Phone");
    ASSERT_TRUE(waitUntil([&] { return pane->relistTrigger().isPending(); }));
    ASSERT_TRUE(waitUntil([&] { return shownNames(pane->model()) == QStringList{"sent.txt"}; }));
    EXPECT_EQ(relists.count(), 1);

    // The first file received made its folder inside the one shown: the folder appears.
    QDir(downloads()).mkdir("Quillbay");
    touch(downloads() + "/Quillbay/first.txt");
    received.record(QUrl::fromLocalFile(downloads() + "/Quillbay/first.txt"), 0, "10.0.0.2",
                    "Phone");
    ASSERT_TRUE(waitUntil([&] { return shownNames(pane->model()).contains("Quillbay"); }));
    EXPECT_EQ(relists.count(), 2);
}

// Guards against a relisting that drops or duplicates rows, or moves rows that changed place.
TEST(ComputerFolderModelDiffTest, RemovesAndInsertsRunsAndFallsBackWhenTheOrderChanged)
{
    const auto entries = [](const QStringList& names) {
        QList<ComputerEntry> out;
        for (const QString& name : names)
            out.append({name.chopped(name.endsWith('/')), name, name.endsWith('/'), 1});
        return out;
    };
    auto listed = entries({"d/", "a", "b", "c", "f", "g"});
    listed[2].size = 2;
    const auto diff = ComputerFolderModel::diff(entries({"a", "b", "x", "y", "f", "z"}), listed);
    EXPECT_FALSE(diff.replace);
    EXPECT_EQ(diff.removals, (QList<std::pair<int, int>>{{5, 1}, {2, 2}}));
    EXPECT_EQ(diff.insertions, (QList<std::pair<int, int>>{{0, 1}, {3, 1}, {5, 1}}));
    EXPECT_EQ(diff.changed, QList<int>{2});
    // A file that became a folder of the same name is another entry, not a moved one.
    EXPECT_FALSE(ComputerFolderModel::diff(entries({"a", "b"}), entries({"b/", "a"})).replace);
    EXPECT_TRUE(ComputerFolderModel::diff(entries({"a", "b"}), entries({"b", "a"})).replace);
}

} // namespace
} // namespace qb::test
