#include "engine_fixture.h"

#include <QDir>
#include <QFile>

using namespace std::chrono_literals;

namespace qb::test {
namespace {

using Behaviour = FakeFileRepository::Behaviour;

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class TransferRacesTest : public EngineFixture
{
protected:
    // A download held open on the fake phone, running in the engine.
    std::shared_ptr<FakeFileRepository::Call> startHeldDownload(const TransferJob& job)
    {
        repository->setBehaviour("download", Behaviour::Hold);
        const int index = repository->callCount("download");
        EXPECT_TRUE(waitFor(engine->enqueue(job)));
        EXPECT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));
        return held("download", index);
    }

    // Everything this thread posted to the engine so far has been applied once this returns.
    // (Pausing an unknown job publishes nothing.)
    void sync() { ASSERT_TRUE(waitFor(engine->pause(QUuid()))); }
};

TEST_F(TransferRacesTest, AJobStoppedWhileItsDownloadRunsIsCompletedWhenTheDownloadSucceeds)
{
    makeEngine();
    for (bool cancel : {false, true}) {
        const TransferJob job = downloadJob(cancel ? "c.txt" : "p.txt", downloads());
        auto call = startHeldDownload(job);
        ASSERT_TRUE(call);
        ASSERT_TRUE(waitFor(cancel ? engine->cancel(job.id) : engine->pause(job.id)));
        ASSERT_TRUE(recorder->waitForStatus(job.id, cancel ? TransferStatus::Canceled
                                                           : TransferStatus::Paused));
        repository->succeed(*call);
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
        EXPECT_EQ(recorder->job(job.id)->progress, 1.0);
        EXPECT_EQ(readFile(downloads() + (cancel ? "/c.txt" : "/p.txt")),
                  repository->downloadContent);
    }
}

TEST_F(TransferRacesTest, AJobStoppedWhileItsDownloadRunsStaysStoppedWhenTheDownloadFails)
{
    makeEngine();
    int calls = 0;
    for (bool cancel : {false, true}) {
        const TransferJob job = downloadJob("x.txt", downloads());
        auto call = startHeldDownload(job);
        ASSERT_TRUE(call);
        ++calls;
        const TransferStatus stopped = cancel ? TransferStatus::Canceled : TransferStatus::Paused;
        ASSERT_TRUE(waitFor(cancel ? engine->cancel(job.id) : engine->pause(job.id)));
        ASSERT_TRUE(recorder->waitForStatus(job.id, stopped));
        QFile partial(call->target);
        ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
        partial.write("trunc");
        partial.close();
        const int published = recorder->count();
        repository->fail(*call);
        // The end of the attempt is published even though the job stays as it is.
        ASSERT_TRUE(waitUntil([&] { return recorder->count() > published; }));
        EXPECT_EQ(recorder->job(job.id)->status, stopped);
        EXPECT_EQ(recorder->job(job.id)->retryCount, 0);
        EXPECT_FALSE(recorder->job(job.id)->error);
        EXPECT_EQ(repository->callCount("download"), calls) << "no retry of a stopped job";
        EXPECT_EQ(entries(downloads()), QStringList()) << "no partial file is left";
    }
}

TEST_F(TransferRacesTest, ResumingWhileTheOldOperationRunsTakesItBack)
{
    makeEngine();
    const TransferJob job = downloadJob("big.iso", downloads());
    auto call = startHeldDownload(job);
    ASSERT_TRUE(call);
    ASSERT_TRUE(waitFor(engine->pause(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Paused));
    // Any second operation would finish at once and show up in the call log.
    repository->setBehaviour("download", Behaviour::Succeed);
    ASSERT_TRUE(waitFor(engine->resume(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));

    // The old operation's progress counts again: it is the job's current attempt.
    clock.advance(1s);
    call->progress(500, 1000);
    sync();
    ASSERT_TRUE(waitUntil([&] { return recorder->job(job.id)->bytesTransferred == 500; }));

    repository->succeed(*call);
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    engine.reset(); // waits for every worker
    EXPECT_EQ(repository->callCount("download"), 1);
    EXPECT_EQ(entries(downloads()), QStringList({"big.iso"}));
}

TEST_F(TransferRacesTest, AResumedJobWaitingForASlotStartsAfreshWhenItsOldOperationFails)
{
    makeEngine();
    repository->setBehaviour("delete", Behaviour::Hold);
    const TransferJob a = deleteJob("65537/1"), b = deleteJob("65537/2"), c = deleteJob("65537/3");
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b})));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Running));
    auto first = repository->waitForCall("delete", "65537/1");
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitFor(engine->pause(a.id)));
    ASSERT_TRUE(waitFor(engine->enqueue(c)));
    ASSERT_TRUE(recorder->waitForStatus(c.id, TransferStatus::Running));
    ASSERT_TRUE(waitFor(engine->resume(a.id)));
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Queued)) << "no slot free";

    const int published = recorder->count();
    repository->fail(*first);
    // The failure of the abandoned operation is not counted; the job still waits its turn.
    ASSERT_TRUE(waitUntil([&] { return recorder->count() > published; }));
    EXPECT_EQ(recorder->job(a.id)->status, TransferStatus::Queued);
    EXPECT_EQ(recorder->job(a.id)->retryCount, 0);
    repository->succeed(*repository->waitForCall("delete", "65537/2"));
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Running));
    ASSERT_TRUE(waitUntil([&] { return repository->callCount("delete") == 4; }));
}

TEST_F(TransferRacesTest, ReportsOfAPausedJobChangeNothing)
{
    makeEngine();
    const TransferJob job = downloadJob("v.mp4", downloads());
    auto call = startHeldDownload(job);
    ASSERT_TRUE(call);
    call->progress(100, 1000);
    ASSERT_TRUE(waitUntil([&] { return recorder->job(job.id)->bytesTransferred == 100; }));
    ASSERT_TRUE(waitFor(engine->pause(job.id)));
    clock.advance(1s);
    call->progress(900, 1000);
    sync();
    drainEvents();
    EXPECT_EQ(recorder->job(job.id)->bytesTransferred, 100);
    EXPECT_DOUBLE_EQ(recorder->job(job.id)->progress, 0.1);
}

TEST_F(TransferRacesTest, ProgressIsGatedAndSpeedMeasuredOverMoreThanHalfASecond)
{
    makeEngine();
    const TransferJob job = downloadJob("v.mp4", downloads());
    auto call = startHeldDownload(job);
    ASSERT_TRUE(call);
    const int before = recorder->count();

    call->progress(0, 0); // the first report always passes and publishes
    ASSERT_TRUE(waitUntil([&] { return recorder->count() > before; }));
    EXPECT_EQ(recorder->job(job.id)->progress, 0.0);

    clock.advance(50ms);
    call->progress(300, 0); // dropped: 50 ms after the last one
    sync();
    drainEvents();
    EXPECT_EQ(recorder->job(job.id)->bytesTransferred, 0);

    clock.advance(450ms); // 0.5 s exactly since the start: no speed yet
    call->progress(400, 0);
    sync();
    drainEvents();
    EXPECT_EQ(recorder->job(job.id)->bytesTransferred, 400) << "a total of 0 keeps the bytes";
    EXPECT_EQ(recorder->job(job.id)->progress, 0.0);
    EXPECT_FALSE(recorder->job(job.id)->transferSpeed);

    clock.advance(100ms);
    call->progress(600, 1200);
    sync();
    drainEvents();
    const TransferJob measured = *recorder->job(job.id);
    EXPECT_DOUBLE_EQ(measured.progress, 0.5);
    ASSERT_TRUE(measured.transferSpeed);
    EXPECT_NEAR(*measured.transferSpeed, 1000.0, 1e-6) << "600 bytes in 0.6 s";

    clock.advance(1s);
    call->progress(1100, 1200);
    sync();
    drainEvents();
    EXPECT_NEAR(*recorder->job(job.id)->transferSpeed, 500.0, 1e-6) << "the last window only";
}

TEST_F(TransferRacesTest, TheFinalFiguresOfAFinishedAttemptAreNeverSwallowed)
{
    makeEngine();
    const TransferJob job = downloadJob("song.mp3", downloads());
    auto call = startHeldDownload(job);
    ASSERT_TRUE(call);
    call->progress(10, 40);
    // The fake reports the whole file as it finishes, right after: the gate drops that report.
    repository->succeed(*call);
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    const qint64 size = repository->downloadContent.size();
    EXPECT_EQ(recorder->job(job.id)->bytesTransferred, size);
    EXPECT_EQ(recorder->job(job.id)->totalBytes, size);
    EXPECT_EQ(recorder->job(job.id)->progress, 1.0);
}

TEST_F(TransferRacesTest, AFailedDownloadIsRetriedIntoACompleteFileEvenUnderSkip)
{
    makeEngine();
    preferences->setValue("overwriteRule", "skip");
    const TransferJob job = downloadJob("doc.pdf", downloads());
    auto call = startHeldDownload(job);
    ASSERT_TRUE(call);
    QFile partial(call->target);
    ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
    partial.write("trunc");
    partial.close();
    repository->setBehaviour("download", Behaviour::Succeed);
    repository->fail(*call);
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    EXPECT_EQ(recorder->job(job.id)->retryCount, 1);
    EXPECT_EQ(entries(downloads()), QStringList({"doc.pdf"}));
    EXPECT_EQ(readFile(downloads() + "/doc.pdf"), repository->downloadContent);
}

TEST_F(TransferRacesTest, TheOverwriteRuleIsReadForEveryDownload)
{
    makeEngine();
    QFile existing(downloads() + "/photo.jpg");
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();

    const auto run = [&](const QString& rule) {
        preferences->setValue("overwriteRule", rule);
        const TransferJob job = downloadJob("photo.jpg", downloads());
        EXPECT_TRUE(waitFor(engine->enqueue(job)));
        EXPECT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
        return *recorder->job(job.id);
    };
    const TransferJob skipped = run("skip");
    EXPECT_EQ(skipped.bytesTransferred, 0);
    EXPECT_EQ(repository->callCount("download"), 0);
    EXPECT_EQ(readFile(downloads() + "/photo.jpg"), "old");

    run("Overwrite"); // not a rule: counts as "ask"
    run("rename");
    EXPECT_EQ(entries(downloads()), QStringList({"photo (1).jpg", "photo (2).jpg", "photo.jpg"}));

    run("overwrite");
    EXPECT_EQ(readFile(downloads() + "/photo.jpg"), repository->downloadContent);
    EXPECT_EQ(entries(downloads()).size(), 3);
}

TEST_F(TransferRacesTest, TwoDownloadsOfOneNameBothSurvive)
{
    makeEngine();
    repository->setBehaviour("download", Behaviour::Hold);
    const TransferJob a = downloadJob("same.txt", downloads());
    const TransferJob b = downloadJob("same.txt", downloads());
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b})));
    auto first = held("download", 0);
    auto second = held("download", 1);
    ASSERT_TRUE(first && second);
    repository->succeed(*first);
    repository->succeed(*second);
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Completed));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Completed));
    EXPECT_EQ(entries(downloads()), QStringList({"same (1).txt", "same.txt"}));
}

TEST_F(TransferRacesTest, AMoveWhoseDeletionFailedRetriesOnlyTheDeletion)
{
    makeEngine();
    repository->failNext("delete", 1, "busy");
    const TransferJob job = TransferJob::make(
        TransferType::Move, TransferEndpoint::android("unknown_1_2", "65537/12", "clip.mp4"),
        TransferEndpoint::android("unknown_1_2", "65537/40", "Movies"));
    ASSERT_TRUE(waitFor(engine->enqueue(job)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    EXPECT_EQ(recorder->job(job.id)->retryCount, 1);
    EXPECT_EQ(repository->callCount("download"), 1);
    EXPECT_EQ(repository->callCount("upload"), 1) << "one copy on the phone, not two";
    EXPECT_EQ(repository->callCount("delete"), 2);
    EXPECT_EQ(repository->waitForCall("upload")->target, "65537/40");
}

TEST_F(TransferRacesTest, CopiesAndOtherOperationsReachTheRightRepositoryCalls)
{
    makeEngine();
    const auto phone = [](const QString& path, const QString& name) {
        return TransferEndpoint::android("unknown_1_2", path, name);
    };
    QFile local(downloads() + "/up.txt");
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write("12345");
    local.close();
    const QList<TransferJob> jobs = {
        TransferJob::make(TransferType::Copy, phone("65537/12", "clip.mp4"),
                          phone("65537/40", "Movies")),
        TransferJob::make(TransferType::CreateFolder, phone("65537/0", "New"),
                          phone("65537/0", "New")),
        TransferJob::make(TransferType::Upload,
                          TransferEndpoint::local(QUrl::fromLocalFile(local.fileName())),
                          phone("65537/40", "")),
    };
    ASSERT_TRUE(waitFor(engine->enqueue(jobs)));
    for (const TransferJob& job : jobs)
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    EXPECT_EQ(repository->callCount("delete"), 0) << "a copy keeps its source";
    EXPECT_EQ(repository->callCount("move"), 0);
    EXPECT_EQ(repository->waitForCall("createFolder")->target, "New");
    EXPECT_EQ(repository->waitForCall("createFolder")->path, "65537/0");
    auto uploads = repository->callCount("upload");
    EXPECT_EQ(uploads, 2);
    EXPECT_EQ(repository->waitForCall("upload", local.fileName())->target, "65537/40");
    EXPECT_EQ(recorder->job(jobs.at(2).id)->bytesTransferred, 5);
}

} // namespace
} // namespace qb::test
