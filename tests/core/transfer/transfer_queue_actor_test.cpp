#include "engine_fixture.h"
#include "platform/sync_spy.h"

#include <QDir>
#include <QUrl>

namespace qb::test {
namespace {

using Behaviour = FakeFileRepository::Behaviour;

class TransferQueueActorTest : public EngineFixture
{};

TEST_F(TransferQueueActorTest, RunsTwoJobsAtATimeInListOrder)
{
    makeEngine();
    repository->setBehaviour("delete", Behaviour::Hold);
    const TransferJob a = deleteJob("65537/1"), b = deleteJob("65537/2"), c = deleteJob("65537/3");
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b, c})));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Running));
    EXPECT_EQ(recorder->job(a.id)->status, TransferStatus::Running);
    EXPECT_EQ(recorder->job(c.id)->status, TransferStatus::Queued);
    EXPECT_EQ(recorder->lists().first().size(), 3) << "the batch goes out whole";

    auto second = repository->waitForCall("delete", "65537/2");
    ASSERT_TRUE(second);
    repository->succeed(*second);
    ASSERT_TRUE(recorder->waitForStatus(c.id, TransferStatus::Running));
    ASSERT_TRUE(repository->waitForCall("delete", "65537/3"));
    EXPECT_EQ(recorder->job(b.id)->status, TransferStatus::Completed);
    EXPECT_EQ(recorder->job(b.id)->progress, 1.0);
}

TEST_F(TransferQueueActorTest, PausingFreesASlotThatOnlyTheNextEventFills)
{
    makeEngine();
    repository->setBehaviour("delete", Behaviour::Hold);
    const TransferJob a = deleteJob("65537/1"), b = deleteJob("65537/2"), c = deleteJob("65537/3");
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b, c})));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Running));

    ASSERT_TRUE(waitFor(engine->pause(a.id)));
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Paused));
    EXPECT_EQ(recorder->job(c.id)->status, TransferStatus::Queued);

    const TransferJob d = deleteJob("65537/4");
    ASSERT_TRUE(waitFor(engine->enqueue(d)));
    ASSERT_TRUE(recorder->waitForStatus(c.id, TransferStatus::Running));
    EXPECT_EQ(recorder->job(d.id)->status, TransferStatus::Queued);
}

TEST_F(TransferQueueActorTest, FailsForGoodAfterThreeImmediateRetries)
{
    makeEngine();
    repository->failNext("delete", 3, "early");
    repository->failNext("delete", 1, "last");
    const TransferJob job = deleteJob("65537/9");
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed));

    const TransferJob failed = *recorder->job(job.id);
    EXPECT_EQ(failed.retryCount, 3);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->localizedMessage, "Transfer failed: last");
    EXPECT_EQ(repository->callCount("delete"), 4);
    const QString id = job.id.toString(QUuid::WithoutBraces);
    EXPECT_EQ(transferLog(),
              QStringList({"Job failed, retrying (1/3): " + id, "Job failed, retrying (2/3): " + id,
                           "Job failed, retrying (3/3): " + id,
                           "Job permanently failed: " + id + " — Transfer failed: last"}));

    // A retry by hand keeps the count, so the next error is final.
    repository->failNext("delete", 1, "again");
    ASSERT_TRUE(waitFor(engine->retry(job.id)));
    ASSERT_TRUE(waitUntil([&] {
        const auto current = recorder->job(job.id);
        return current->error && current->error->localizedMessage == "Transfer failed: again";
    }));
    EXPECT_EQ(recorder->job(job.id)->status, TransferStatus::Failed);
    EXPECT_EQ(recorder->job(job.id)->retryCount, 3);
    EXPECT_EQ(repository->callCount("delete"), 5);
}

// Guards against a long name failing the final rename after the whole transfer, three times
// over; against retrying a write that failed for lack of space; against a download named before
// its bytes are on the disk, and a folder flush per file making batches of small files crawl.
TEST_F(TransferQueueActorTest, DownloadsAreSettledOnTheFirstAttemptAndFlushedOnce)
{
    makeEngine();
    test::clearSyncCalls();
    const QString longName = QString(150, QChar(0xE9)) + ".jpeg"; // 305 bytes of UTF-8
    const QList<TransferJob> jobs{downloadJob(longName, downloads()),
                                  downloadJob("b.txt", downloads())};
    ASSERT_TRUE(waitFor(engine->enqueue(jobs)));
    ASSERT_TRUE(recorder->waitForStatus(jobs[0].id, TransferStatus::Completed));
    ASSERT_TRUE(recorder->waitForStatus(jobs[1].id, TransferStatus::Completed));
    const QStringList saved = QDir(downloads()).entryList(QDir::Files);
    EXPECT_TRUE(saved.size() == 2 && saved[1].endsWith(".jpeg") && saved[1].toUtf8().size() == 255);
    ASSERT_TRUE(waitUntil([&] { return test::syncCalls().size() == 3; }));
    EXPECT_EQ(test::syncCalls().filter("fdatasync " + downloads() + "/.quillbay-").size(), 2);
    EXPECT_EQ(test::syncCalls().last(), "fsync " + downloads());

    repository->failNext("download", 1, "ENOSPC");
    const TransferJob full = downloadJob("big.iso", downloads());
    ASSERT_TRUE(waitFor(engine->enqueue(full)));
    ASSERT_TRUE(recorder->waitForStatus(full.id, TransferStatus::Failed));
    EXPECT_EQ(recorder->job(full.id)->error->localizedMessage, "No space left on device");
    EXPECT_EQ(repository->callCount("download"), 3);
}

TEST_F(TransferQueueActorTest, RetryStartsAFailedJobAfreshButKeepsItsFigures)
{
    makeEngine();
    repository->setBehaviour("download", Behaviour::Hold);
    const TransferJob job = downloadJob("a.bin", downloads());
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    for (int attempt = 0; attempt < 4; ++attempt) {
        auto call = held("download", attempt);
        ASSERT_TRUE(call);
        clock.advance(std::chrono::seconds(1));
        call->progress(30, 100);
        repository->fail(*call);
    }
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed));
    EXPECT_EQ(recorder->job(job.id)->bytesTransferred, 30);

    ASSERT_TRUE(waitFor(engine->retry(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));
    const TransferJob retried = *recorder->job(job.id);
    EXPECT_EQ(retried.progress, 0.0);
    EXPECT_EQ(retried.bytesTransferred, 0);
    EXPECT_FALSE(retried.error);
    EXPECT_EQ(retried.totalBytes, 100);
    EXPECT_EQ(retried.retryCount, 3);
    ASSERT_TRUE(held("download", 4));
}

TEST_F(TransferQueueActorTest, WithoutAProviderJobsFailUntilOneIsInstalled)
{
    makeEngine(false);
    const TransferJob job = deleteJob("65537/5");
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed));
    EXPECT_EQ(recorder->job(job.id)->error->localizedMessage, "No repository provider set");
    EXPECT_EQ(recorder->job(job.id)->retryCount, 3);

    engine->setRepositoryProvider(provider());
    ASSERT_TRUE(waitFor(engine->retry(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    EXPECT_EQ(repository->callCount("delete"), 1);
}

TEST_F(TransferQueueActorTest, RefusesEndpointsThatDoNotFitTheJobType)
{
    makeEngine();
    const auto phone = [](const QString& device) {
        return TransferEndpoint::android(device, "65537/3", "photo.jpg");
    };
    const TransferEndpoint file = TransferEndpoint::local(QUrl::fromLocalFile(downloads()));
    const TransferEndpoint web = TransferEndpoint::local(QUrl("https://example.org/x"));
    const QList<std::pair<TransferJob, QString>> cases = {
        {TransferJob::make(TransferType::Upload, phone("p1"), phone("p1")),
         "Invalid upload endpoints"},
        {TransferJob::make(TransferType::Upload, web, phone("p1")), "Invalid upload endpoints"},
        {TransferJob::make(TransferType::Download, file, file), "Invalid download endpoints"},
        {TransferJob::make(TransferType::Download, phone("p1"), web), "Invalid download endpoints"},
        {TransferJob::make(TransferType::Move, phone("p1"), file), "Invalid move/copy endpoints"},
        // The repository works within one phone: a copy to another would go to the wrong one.
        {TransferJob::make(TransferType::Copy, phone("p1"), phone("p2")),
         "Invalid move/copy endpoints"},
        {TransferJob::make(TransferType::Delete, file, file), "Invalid delete endpoint"},
        {TransferJob::make(TransferType::CreateFolder, phone("p1"), file),
         "Invalid createFolder endpoint"},
    };
    QList<TransferJob> jobs;
    for (const auto& [job, message] : cases)
        jobs.append(job);
    ASSERT_TRUE(waitFor(engine->enqueue(jobs)));
    for (const auto& [job, message] : cases) {
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed))
            << message.toStdString();
        EXPECT_EQ(recorder->job(job.id)->error->localizedMessage, message);
    }
    EXPECT_TRUE(repository->calls().isEmpty());
}

TEST_F(TransferQueueActorTest, OperationsOnFinishedAndUnknownJobs)
{
    makeEngine();
    const TransferJob job = deleteJob("65537/5");
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    const int published = recorder->count();

    const QUuid unknown = QUuid::createUuid();
    for (const auto& future :
         {engine->pause(unknown), engine->resume(unknown), engine->cancel(unknown),
          engine->retry(unknown), engine->retry(job.id), engine->pause(job.id),
          engine->resume(job.id)})
        ASSERT_TRUE(waitFor(future));
    drainEvents();
    EXPECT_EQ(recorder->count(), published) << "nothing changed, nothing published";
    EXPECT_EQ(recorder->job(job.id)->status, TransferStatus::Completed);

    ASSERT_TRUE(waitFor(engine->cancel(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Canceled));
}

TEST_F(TransferQueueActorTest, ClearingKeepsUnfinishedJobsReachable)
{
    makeEngine();
    repository->setBehaviour("delete", Behaviour::Hold);
    const TransferJob a = deleteJob("65537/1"), b = deleteJob("65537/2");
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b})));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Running));

    // Only running jobs: nothing to remove, but the list goes out all the same.
    int published = recorder->count();
    ASSERT_TRUE(waitFor(engine->clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return recorder->count() == published + 1; }));
    EXPECT_EQ(recorder->latest().size(), 2);

    const TransferJob c = deleteJob("65537/3");
    ASSERT_TRUE(waitFor(engine->enqueue(c)));
    ASSERT_TRUE(waitFor(engine->cancel(a.id)));
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Canceled));
    ASSERT_TRUE(waitFor(engine->clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return recorder->latest().size() == 2; }));
    EXPECT_EQ(recorder->latest().at(0).id, b.id);
    EXPECT_EQ(recorder->latest().at(1).id, c.id);

    // The jobs moved up in the list; they must still be found by their ids.
    ASSERT_TRUE(waitFor(engine->pause(b.id)));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Paused));
    ASSERT_TRUE(waitFor(engine->enqueue(deleteJob("65537/4"))));
    ASSERT_TRUE(recorder->waitForStatus(c.id, TransferStatus::Running));
}

TEST_F(TransferQueueActorTest, OnlyTheNewestListenerHearsAndEarlierListsAreNotReplayed)
{
    makeEngine();
    repository->setBehaviour("delete", Behaviour::Hold);
    const TransferJob job = deleteJob("65537/1");
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));

    PublicationRecorder newer(*engine);
    const int olderCount = recorder->count();
    drainEvents();
    EXPECT_EQ(newer.count(), 0) << "a publication made before the stream is lost";

    ASSERT_TRUE(waitFor(engine->pause(job.id)));
    ASSERT_TRUE(newer.waitForStatus(job.id, TransferStatus::Paused));
    EXPECT_EQ(newer.latest().size(), 1) << "the next publication carries the whole list";
    EXPECT_EQ(recorder->count(), olderCount) << "the replaced listener hears nothing more";
}

TEST_F(TransferQueueActorTest, AJobEnqueuedTwiceIsKeptOnce)
{
    makeEngine();
    repository->setBehaviour("delete", Behaviour::Hold);
    const TransferJob job = deleteJob("65537/1");
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{job, job})));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));
    EXPECT_EQ(recorder->latest().size(), 1);
}

} // namespace
} // namespace qb::test
