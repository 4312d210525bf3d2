#include "core/transfer/transfer_queue_view_model.h"

#include "engine_test_support.h"

#include <QSignalSpy>

namespace qb::test {
namespace {

using TransferQueueViewModelTest = EngineFixture;

bool waitForStatus(const TransferQueueViewModel& model, const QUuid& id, TransferStatus status)
{
    return waitUntil([&] {
        const auto job = findJob(model.jobs(), id);
        return job && job->status == status;
    });
}

QList<QUuid> ids(const QList<TransferJob>& jobs)
{
    QList<QUuid> result;
    std::ranges::transform(jobs, std::back_inserter(result), &TransferJob::id);
    return result;
}

TEST_F(TransferQueueViewModelTest, SplitsJobsAveragesRunningOnesAndSignalsOnlyRealChanges)
{
    TransferQueueViewModel model(*engine);
    QSignalSpy changed(&model, &TransferQueueViewModel::jobsChanged);
    repository->setHold("download", true);
    repository->failNext("create", 4);
    const TransferJob a = downloadJob("a", downloads()), b = downloadJob("b", downloads()),
                      c = downloadJob("c", downloads());
    const auto folder = TransferEndpoint::android("unknown_1_2", "65537/0", "New");
    const TransferJob failing = TransferJob::make(TransferType::CreateFolder, folder, folder);
    ASSERT_TRUE(waitFor(model.enqueue(QList<TransferJob>{a, failing, b, c})));
    ASSERT_TRUE(waitForStatus(model, failing.id, TransferStatus::Failed));
    auto first = repository->waitForCall("download", 0);
    auto second = repository->waitForCall("download", 1);
    ASSERT_TRUE(first && second);
    first->progress(20, 100);
    second->progress(600, 1000); // sizes differ: the mean is not weighted
    ASSERT_TRUE(waitUntil([&] { return model.overallProgress() > 0.39; }));
    EXPECT_DOUBLE_EQ(model.overallProgress(), 0.4);

    ASSERT_TRUE(waitFor(model.cancel(c.id)));
    ASSERT_TRUE(waitForStatus(model, c.id, TransferStatus::Canceled));
    EXPECT_EQ(ids(model.activeJobs()), QList<QUuid>({a.id, b.id}));
    EXPECT_EQ(ids(model.finishedJobs()), QList<QUuid>({failing.id, c.id}));
    ASSERT_TRUE(waitFor(model.clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return model.jobs().size() == 2; }));
    EXPECT_TRUE(model.finishedJobs().isEmpty());

    // Published again, unchanged: the views are not disturbed.
    const int before = int(changed.count());
    ASSERT_TRUE(waitFor(model.clearCompleted()));
    drainEvents();
    EXPECT_EQ(changed.count(), before);
    ASSERT_TRUE(waitFor(model.pause(a.id)));
    ASSERT_TRUE(waitForStatus(model, a.id, TransferStatus::Paused));
    EXPECT_EQ(changed.count(), before + 1);
    // Only paused jobs left: nothing is running, so the figure is 0.
    ASSERT_TRUE(waitFor(model.pause(b.id)));
    ASSERT_TRUE(waitForStatus(model, b.id, TransferStatus::Paused));
    EXPECT_EQ(model.overallProgress(), 0.0);
}

} // namespace
} // namespace qb::test
