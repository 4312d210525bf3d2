#include "core/transfer/transfer_queue_view_model.h"

#include "engine_fixture.h"

#include <QSignalSpy>

namespace qb::test {
namespace {

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
    bool waitForStatus(const QUuid& id, TransferStatus status)
    {
        return waitUntil([&] {
            return std::any_of(model->jobs().begin(), model->jobs().end(), [&](const auto& job) {
                return job.id == id && job.status == status;
            });
        });
    }
    static QList<QUuid> ids(const QList<TransferJob>& jobs)
    {
        QList<QUuid> result;
        for (const TransferJob& job : jobs)
            result.append(job.id);
        return result;
    }

    std::unique_ptr<TransferQueueViewModel> model;
};

TEST_F(TransferQueueViewModelTest, OverallProgressIsThePlainMeanOfTheRunningJobs)
{
    repository->setHold("download", true);
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

    // Only paused and queued jobs left: nothing is running, so the figure is 0.
    ASSERT_TRUE(waitFor(model->pause(a.id)));
    ASSERT_TRUE(waitFor(model->pause(b.id)));
    ASSERT_TRUE(waitForStatus(b.id, TransferStatus::Paused));
    EXPECT_EQ(model->overallProgress(), 0.0);
    EXPECT_EQ(model->activeJobs().size(), 3);
}

TEST_F(TransferQueueViewModelTest, EveryJobIsEitherActiveOrFinishedAndOnlyChangesAreSignalled)
{
    repository->setHold("delete", true);
    repository->failNext("createFolder", 4);
    QSignalSpy changed(model.get(), &TransferQueueViewModel::jobsChanged);
    const TransferJob running = deleteJob("65537/1"), queued = deleteJob("65537/2"),
                      canceled = deleteJob("65537/3");
    const auto folder = TransferEndpoint::android("unknown_1_2", "65537/0", "New");
    const TransferJob failing = TransferJob::make(TransferType::CreateFolder, folder, folder);
    ASSERT_TRUE(waitFor(model->enqueue(QList<TransferJob>{running, failing, queued})));
    ASSERT_TRUE(waitForStatus(failing.id, TransferStatus::Failed));
    ASSERT_TRUE(waitForStatus(queued.id, TransferStatus::Running));
    ASSERT_TRUE(waitFor(model->enqueue(canceled)));
    ASSERT_TRUE(waitFor(model->cancel(canceled.id)));
    ASSERT_TRUE(waitForStatus(canceled.id, TransferStatus::Canceled));
    EXPECT_EQ(ids(model->activeJobs()), QList<QUuid>({running.id, queued.id}));
    EXPECT_EQ(ids(model->finishedJobs()), QList<QUuid>({failing.id, canceled.id}));

    ASSERT_TRUE(waitFor(model->clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return model->jobs().size() == 2; }));
    EXPECT_TRUE(model->finishedJobs().isEmpty());

    // Published again, unchanged: the views are not disturbed.
    const int before = int(changed.count());
    ASSERT_TRUE(waitFor(model->clearCompleted()));
    drainEvents();
    EXPECT_EQ(changed.count(), before);
    ASSERT_TRUE(waitFor(model->pause(running.id)));
    ASSERT_TRUE(waitForStatus(running.id, TransferStatus::Paused));
    EXPECT_EQ(changed.count(), before + 1);
}

} // namespace
} // namespace qb::test
