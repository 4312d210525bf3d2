// The job list model applies each publication as a diff by id and never resets; the list view
// over it tells assistive technology each job's state.
#include "support/test_support.h"
#include "transfer_ui/transfer_job_list_model.h"
#include "transfer_ui/transfer_job_list_view.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <gtest/gtest.h>

#include <random>

namespace qb {
namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new test::ApplicationEnvironment<QApplication>);

class TransferJobListModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        using M = TransferJobListModel;
        const auto log = [this](const char* what) {
            return [this, what](const QModelIndex&, int first, int last) {
                events << QStringLiteral("%1 %2-%3").arg(what).arg(first).arg(last);
            };
        };
        QObject::connect(&model, &M::rowsInserted, log("insert"));
        QObject::connect(&model, &M::rowsRemoved, log("remove"));
        QObject::connect(&model, &M::rowsMoved,
                         [this](const QModelIndex&, int from, int, const QModelIndex&, int to) {
                             events << QStringLiteral("move %1>%2").arg(from).arg(to);
                         });
        QObject::connect(&model, &M::dataChanged,
                         [this](const QModelIndex& a, const QModelIndex& b) {
                             events << QStringLiteral("change %1-%2").arg(a.row()).arg(b.row());
                         });
        QObject::connect(&model, &M::modelReset, [this] { events << "reset"; });
    }

    // Applies the list; returns the signals it caused and checks the rows match it.
    QStringList apply(const QList<TransferJob>& jobs)
    {
        events.clear();
        model.setJobs(jobs);
        EXPECT_EQ(model.rowCount(), jobs.size());
        for (int row = 0; row < jobs.size(); ++row) {
            const auto shown =
                model.index(row).data(TransferJobListModel::JobRole).value<TransferJob>();
            EXPECT_EQ(shown.id, jobs.at(row).id);
            EXPECT_EQ(shown.status, jobs.at(row).status);
            EXPECT_EQ(shown.progress, jobs.at(row).progress);
        }
        return events;
    }

    static TransferJob job(const QString& name)
    {
        return TransferJob::make(TransferType::Download,
                                 TransferEndpoint::android("d", "1/2", name),
                                 TransferEndpoint::local(QUrl::fromLocalFile("/tmp")), 100);
    }

    TransferJobListModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QStringList events;
};

TEST_F(TransferJobListModelTest, PublicationsBecomeInsertsChangesAndRemovals)
{
    TransferJob a = job("a"), b = job("b"), c = job("c"), d = job("d");
    EXPECT_EQ(apply({a, b, c}), QStringList({"insert 0-2"}));
    EXPECT_EQ(model.index(1).data().toString(), "b");

    b.status = TransferStatus::Running;
    b.progress = 0.5;
    EXPECT_EQ(apply({a, b, c}), QStringList({"change 1-1"}));
    EXPECT_EQ(apply({a, b, c, d}), QStringList({"insert 3-3"}));

    // A job changing status in place, two apart: two ranges, nothing else.
    a.status = TransferStatus::Completed;
    c.status = TransferStatus::Failed;
    c.error = TransferError{"Transfer failed: gone"};
    EXPECT_EQ(apply({a, b, c, d}), QStringList({"change 0-0", "change 2-2"}));
    EXPECT_EQ(apply({a, b, c, d}), QStringList());

    // Only fields a row shows are signalled; the stored job still follows.
    c.retryCount = 3;
    EXPECT_EQ(apply({a, b, c, d}), QStringList());
    EXPECT_EQ(model.jobs().at(2).retryCount, 3);

    // Clear completed: the finished rows leave, the others stay in order.
    EXPECT_EQ(apply({b, d}), QStringList({"remove 2-2", "remove 0-0"}));
    EXPECT_EQ(model.rowOf(d.id), 1);

    // A retried job stays at its place; an out-of-order list is moved, not reset.
    EXPECT_EQ(apply({d, b, a}), QStringList({"move 1>0", "insert 2-2"}));
    EXPECT_EQ(apply({}), QStringList({"remove 0-2"}));
}

TEST_F(TransferJobListModelTest, EachRowTellsAScreenReaderItsStatusAndError)
{
    TransferJob done = job("notes.txt"), failed = job("notes.txt");
    done.status = TransferStatus::Completed;
    failed.status = TransferStatus::Failed;
    failed.error = TransferError{"Download failed: PTP I/O Error"};
    apply({done, failed});

    // Read as assistive technology reads it: through the list view's accessible cells.
    TransferJobListView view;
    view.setModel(&model);
    view.resize(400, 300);
    view.show();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    ASSERT_TRUE(list && list->tableInterface());
    const auto said = [&](int row, QAccessible::Text text) {
        QAccessibleInterface* cell = list->tableInterface()->cellAt(row, 0);
        return cell ? cell->text(text) : QStringLiteral("(no cell)");
    };
    const QString name = QString::fromUtf8("notes.txt, \u2193 to Computer, ");
    EXPECT_EQ(said(0, QAccessible::Name), name + "Completed");
    EXPECT_EQ(said(0, QAccessible::Description), "");
    EXPECT_EQ(said(1, QAccessible::Name), name + "Failed");
    EXPECT_EQ(said(1, QAccessible::Description), "Download failed: PTP I/O Error");

    // A retried job says its new state.
    failed.status = TransferStatus::Queued;
    failed.error.reset();
    EXPECT_EQ(apply({done, failed}), QStringList({"change 1-1"}));
    EXPECT_EQ(said(1, QAccessible::Name), name + "Queued");
    EXPECT_EQ(said(1, QAccessible::Description), "");

    // Regression: a running row read no progress, and nothing was heard when a row changed in
    // place (Qt tells nothing of an item whose texts change), not even its end or its failure.
    static QStringList heard;
    heard.clear();
    const auto previous = QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
        if (event->type() == QAccessible::NameChanged)
            heard << "name " + event->accessibleInterface()->text(QAccessible::Name);
        else if (event->type() == QAccessible::DescriptionChanged)
            heard << "description " + event->accessibleInterface()->text(QAccessible::Description);
    });
    // As a screen reader does; the event handler is only called while accessibility is on.
    QPlatformAccessibility* platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    ASSERT_NE(platform, nullptr);
    platform->setActive(true);
    failed.status = TransferStatus::Running;
    failed.totalBytes = 1'000'000;
    failed.transferSpeed = 500'000;
    // Fifteen reports of 2 %: heard at the start, then once per tenth of the way.
    for (int step = 0; step <= 15; ++step) {
        failed.progress = step * 0.02;
        failed.bytesTransferred = step * 20'000;
        apply({done, failed});
    }
    failed.status = TransferStatus::Failed;
    failed.error = TransferError{"Download failed: PTP I/O Error"};
    apply({done, failed});
    platform->setActive(false);
    QAccessible::installUpdateHandler(previous);
    EXPECT_EQ(heard,
              QStringList(
                  {"name " + name + "Running", "description 0%, Zero KB / 1 MB, ETA: 2s, 500 KB/s",
                   "name " + name + "Running", "description 10%, 100 KB / 1 MB, ETA: 1s, 500 KB/s",
                   "name " + name + "Running", "description 20%, 200 KB / 1 MB, ETA: 1s, 500 KB/s",
                   "name " + name + "Running", "description 30%, 300 KB / 1 MB, ETA: 1s, 500 KB/s",
                   "name " + name + "Failed", "description Download failed: PTP I/O Error"}));
}

TEST_F(TransferJobListModelTest, RandomPublicationsLeaveExactlyThePublishedList)
{
    QList<TransferJob> jobs;
    std::mt19937 random(17);
    for (int round = 0; round < 300; ++round) {
        for (int i = int(jobs.size()) - 1; i >= 0; --i) {
            if (random() % 8 == 0)
                jobs.removeAt(i);
            else if (random() % 4 == 0)
                jobs[i].progress += 0.01;
        }
        for (int i = int(random() % 4); i > 0; --i)
            jobs.insert(qsizetype(random() % (jobs.size() + 1)), job(QString::number(round)));
        if (jobs.size() > 2 && random() % 10 == 0)
            jobs.move(0, jobs.size() - 1);
        EXPECT_FALSE(apply(jobs).contains("reset"));
    }
}

} // namespace
} // namespace qb
