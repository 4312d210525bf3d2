#include "engine_test_support.h"
#include "platform/sync_spy.h"

namespace qb::test {
namespace {

using TransferQueueActorTest = EngineFixture;

// Guards against a long name failing the final rename after the whole transfer, three times over;
// against retrying a write that failed for lack of space; against a download named before its bytes
// are on the disk, and a folder flush per file making batches of small files crawl.
TEST_F(TransferQueueActorTest, DownloadsAreSettledOnTheFirstAttemptAndFlushedOnce)
{
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

    repository->failNext(
        "download", std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category())));
    const TransferJob full = downloadJob("big.iso", downloads());
    ASSERT_TRUE(waitFor(engine->enqueue(full)));
    ASSERT_TRUE(recorder->waitForStatus(full.id, TransferStatus::Failed));
    EXPECT_EQ(recorder->job(full.id)->error->localizedMessage, "No space left on device");
    EXPECT_EQ(repository->callCount("download"), 3);
}

// Three immediate retries, then the job fails for good; a retry by hand starts it afresh but keeps
// its figures and its count, so that its next error is final.
TEST_F(TransferQueueActorTest, FailsAfterThreeRetriesAndARetryByHandStartsAfresh)
{
    repository->setHold("download", true);
    const TransferJob job = downloadJob("a.bin", downloads());
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    for (int attempt = 0; attempt < 4; ++attempt) {
        auto call = repository->waitForCall("download", attempt);
        ASSERT_TRUE(call);
        clock.advance(std::chrono::seconds(1));
        call->progress(30, 100);
        repository->fail(*call, attempt == 3 ? "last" : "early");
    }
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed));
    EXPECT_EQ(recorder->job(job.id)->bytesTransferred, 30);
    EXPECT_EQ(recorder->job(job.id)->error->localizedMessage, "Transfer failed: last");

    ASSERT_TRUE(waitFor(engine->retry(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));
    const TransferJob retried = *recorder->job(job.id);
    EXPECT_TRUE(retried.progress == 0.0 && retried.bytesTransferred == 0 && !retried.error);
    EXPECT_EQ(retried.totalBytes, 100);
    EXPECT_EQ(retried.retryCount, 3);
    auto call = repository->waitForCall("download", 4);
    ASSERT_TRUE(call);
    repository->fail(*call);
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed));
    drainEvents();
    EXPECT_EQ(repository->callCount("download"), 5);
}

TEST_F(TransferQueueActorTest, WithoutAProviderJobsFailAndFinishedJobsIgnoreAllButCancel)
{
    engine->setRepositoryProvider({});
    const TransferJob job = deleteJob("65537/5");
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed));
    EXPECT_EQ(recorder->job(job.id)->error->localizedMessage, "No repository provider set");
    EXPECT_EQ(recorder->job(job.id)->retryCount, 3);

    engine->setRepositoryProvider(provider());
    ASSERT_TRUE(waitFor(engine->retry(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    EXPECT_EQ(repository->callCount("delete"), 1);

    const int published = recorder->count();
    const QUuid unknown = QUuid::createUuid();
    for (const auto& future :
         {engine->pause(unknown), engine->resume(unknown), engine->cancel(unknown),
          engine->retry(unknown), engine->retry(job.id), engine->pause(job.id),
          engine->resume(job.id)})
        ASSERT_TRUE(waitFor(future));
    drainEvents();
    EXPECT_EQ(recorder->count(), published) << "nothing changed, nothing published";
    ASSERT_TRUE(waitFor(engine->cancel(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Canceled));
}

TEST_F(TransferQueueActorTest, RefusesEndpointsThatDoNotFitTheJobType)
{
    const auto p1 = TransferEndpoint::android("p1", "65537/3", "photo.jpg");
    const auto p2 = TransferEndpoint::android("p2", "65537/3", "photo.jpg");
    const auto file = TransferEndpoint::local(QUrl::fromLocalFile(downloads()));
    const auto web = TransferEndpoint::local(QUrl("https://example.org/x"));
    using T = TransferType;
    const QList<std::pair<TransferJob, QString>> cases = {
        {TransferJob::make(T::Upload, p1, p1), "Invalid upload endpoints"},
        {TransferJob::make(T::Download, p1, web), "Invalid download endpoints"},
        {TransferJob::make(T::Move, p1, file), "Invalid move/copy endpoints"},
        // The repository works within one phone: a copy to another would go to the wrong one.
        {TransferJob::make(T::Copy, p1, p2), "Invalid move/copy endpoints"},
        {TransferJob::make(T::Delete, file, file), "Invalid delete endpoint"},
        {TransferJob::make(T::CreateFolder, p1, file), "Invalid createFolder endpoint"},
    };
    for (const auto& [job, message] : cases) {
        ASSERT_TRUE(waitFor(engine->enqueue(job)));
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed))
            << message.toStdString();
        EXPECT_EQ(recorder->job(job.id)->error->localizedMessage, message);
    }
    EXPECT_EQ(repository->callCount({}), 0);
}

TEST_F(TransferQueueActorTest, ClearingKeepsUnfinishedJobsReachableAndOnlyTheNewestListenerHears)
{
    repository->setHold("delete", true);
    const TransferJob a = deleteJob("65537/1"), b = deleteJob("65537/2"), c = deleteJob("65537/3");
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b, a})));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Running));
    EXPECT_EQ(recorder->latest().size(), 2) << "a job enqueued twice is kept once";

    // Only running jobs: nothing to remove, but the list goes out all the same.
    const int published = recorder->count();
    ASSERT_TRUE(waitFor(engine->clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return recorder->count() == published + 1; }));

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

    // Only the newest listener hears, and earlier lists are not replayed to it.
    PublicationRecorder newer(*engine);
    const int olderCount = recorder->count();
    drainEvents();
    EXPECT_EQ(newer.count(), 0) << "a publication made before the stream is lost";
    ASSERT_TRUE(waitFor(engine->pause(c.id)));
    ASSERT_TRUE(newer.waitForStatus(c.id, TransferStatus::Paused));
    EXPECT_EQ(newer.latest().size(), 3) << "the next publication carries the whole list";
    EXPECT_EQ(recorder->count(), olderCount) << "the replaced listener hears nothing more";
}

} // namespace
} // namespace qb::test
