#include "core/transfer/transfer_queue_view_model.h"

#include "engine_fixture.h"

#include <QSignalSpy>

namespace qb::test {
namespace {

using Behaviour = FakeFileRepository::Behaviour;

class TransferQueueViewModelTest : public EngineFixture
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        makeEngine();
        model = std::make_unique<TransferQueueViewModel>(*engine);
    }
    void TearDown() override
    {
        repository->shutDown();
        model.reset();
        EngineFixture::TearDown();
    }

    TransferStatus statusOf(const QUuid& id) const
    {
        for (const TransferJob& job : model->jobs()) {
            if (job.id == id)
                return job.status;
        }
        return TransferStatus::Queued;
    }

    bool waitForStatus(const QUuid& id, TransferStatus status)
    {
        return waitUntil([&] {
            return std::any_of(
                model->jobs().begin(), model->jobs().end(),
                [&](const TransferJob& job) { return job.id == id && job.status == status; });
        });
    }

    std::unique_ptr<TransferQueueViewModel> model;
};

TEST_F(TransferQueueViewModelTest, OverallProgressIsThePlainMeanOfTheRunningJobs)
{
    repository->setBehaviour("download", Behaviour::Hold);
    const TransferJob a = downloadJob("a", downloads()), b = downloadJob("b", downloads()),
                      c = downloadJob("c", downloads());
    ASSERT_TRUE(waitFor(model->enqueue(QList<TransferJob>{a, b, c})));
    auto first = held("download", 0);
    auto second = held("download", 1);
    ASSERT_TRUE(first && second);
    first->progress(20, 100);
    second->progress(600, 1000); // sizes differ: the mean is not weighted
    ASSERT_TRUE(waitUntil([&] { return model->overallProgress() > 0.39; }));
    EXPECT_DOUBLE_EQ(model->overallProgress(), 0.4);
    EXPECT_EQ(model->activeJobs().size(), 3);
    EXPECT_TRUE(model->finishedJobs().isEmpty());

    // Only paused and queued jobs left: nothing is running, so the figure is 0.
    ASSERT_TRUE(waitFor(model->pause(a.id)));
    ASSERT_TRUE(waitFor(model->pause(b.id)));
    ASSERT_TRUE(waitForStatus(b.id, TransferStatus::Paused));
    EXPECT_EQ(model->overallProgress(), 0.0);
    EXPECT_EQ(model->activeJobs().size(), 3);
}

TEST_F(TransferQueueViewModelTest, EveryJobIsEitherActiveOrFinished)
{
    repository->setBehaviour("delete", Behaviour::Hold);
    repository->failNext("createFolder", 4);
    const TransferJob running = deleteJob("65537/1");
    const TransferJob failing = TransferJob::make(
        TransferType::CreateFolder, TransferEndpoint::android("unknown_1_2", "65537/0", "New"),
        TransferEndpoint::android("unknown_1_2", "65537/0", "New"));
    const TransferJob queued = deleteJob("65537/2");
    ASSERT_TRUE(waitFor(model->enqueue(QList<TransferJob>{running, failing, queued})));
    ASSERT_TRUE(waitForStatus(failing.id, TransferStatus::Failed));
    ASSERT_TRUE(waitForStatus(queued.id, TransferStatus::Running));
    const TransferJob canceled = deleteJob("65537/3");
    ASSERT_TRUE(waitFor(model->enqueue(canceled)));
    ASSERT_TRUE(waitFor(model->cancel(canceled.id)));
    ASSERT_TRUE(waitForStatus(canceled.id, TransferStatus::Canceled));

    QList<QUuid> active, finished;
    for (const TransferJob& job : model->activeJobs())
        active.append(job.id);
    for (const TransferJob& job : model->finishedJobs())
        finished.append(job.id);
    EXPECT_EQ(active, QList<QUuid>({running.id, queued.id}));
    EXPECT_EQ(finished, QList<QUuid>({failing.id, canceled.id}));

    ASSERT_TRUE(waitFor(model->clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return model->jobs().size() == 2; }));
    EXPECT_TRUE(model->finishedJobs().isEmpty());
}

TEST_F(TransferQueueViewModelTest, SignalsOnlyRealChanges)
{
    repository->setBehaviour("delete", Behaviour::Hold);
    QSignalSpy changed(model.get(), &TransferQueueViewModel::jobsChanged);
    const TransferJob job = deleteJob("65537/1");
    ASSERT_TRUE(waitFor(model->enqueue(job)));
    ASSERT_TRUE(waitForStatus(job.id, TransferStatus::Running));
    const int before = int(changed.count());
    EXPECT_GE(before, 1);

    // Published again, unchanged: the views are not disturbed.
    ASSERT_TRUE(waitFor(model->clearCompleted()));
    drainEvents();
    EXPECT_EQ(changed.count(), before);

    ASSERT_TRUE(waitFor(model->pause(job.id)));
    ASSERT_TRUE(waitForStatus(job.id, TransferStatus::Paused));
    EXPECT_EQ(changed.count(), before + 1);
    ASSERT_TRUE(waitFor(model->resume(job.id)));
    ASSERT_TRUE(waitForStatus(job.id, TransferStatus::Running));
    ASSERT_TRUE(waitFor(model->retry(job.id)));
}

} // namespace
} // namespace qb::test
