#include "core/device/device_fakes.h"
#include "core/device/device_list_view_model.h"
#include "core/device/mtp_device_manager.h"
#include "core/transfer/transfer_queue_view_model.h"
#include "engine_test_support.h"
#include "platform/sync_spy.h"

#include <QSignalSpy>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace qb::test {
namespace {

using TransferQueueActorTest = EngineFixture;

// Guards against a long name failing the final rename after the whole transfer, three times over;
// against retrying a write that failed for lack of space; against a download shown completed
// before its file and its name are on the disk, and a commit keeping the next transfer waiting.
TEST_F(TransferQueueActorTest, DownloadsCompleteOnceOnTheDiskWhileTheNextTransfersGoOn)
{
    test::clearSyncCalls();
    test::holdSyncs(downloads());                                 // every flush there waits
    const QString longName = QString(150, QChar(0xE9)) + ".jpeg"; // 305 bytes of UTF-8
    const QList<TransferJob> jobs{downloadJob(longName, downloads()),
                                  downloadJob("b.txt", downloads()),
                                  downloadJob("c.txt", downloads())};
    ASSERT_TRUE(waitFor(engine->enqueue(jobs)));
    ASSERT_TRUE(waitUntil([&] { return repository->callCount("download") == 3; }, 3000))
        << "the first commits hold both slots";
    ASSERT_TRUE(waitUntil([] { return test::heldSyncs() > 0; }));
    drainEvents();
    for (const TransferJob& job : jobs)
        EXPECT_EQ(recorder->job(job.id)->status, TransferStatus::Running);
    test::releaseSyncs();
    for (const TransferJob& job : jobs)
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    const QStringList saved = QDir(downloads()).entryList(QDir::Files);
    EXPECT_TRUE(saved.size() == 3 && saved[2].endsWith(".jpeg") && saved[2].toUtf8().size() == 255);
    EXPECT_EQ(test::syncCalls().filter("fdatasync " + downloads() + "/.quillbay-").size(), 3);
    EXPECT_EQ(test::syncCalls().last(), "fsync " + downloads());

    // A full disk or a full quota, while writing and while committing, fails at once and leaves
    // no file.
    for (const auto& [error, text] :
         {std::pair{ENOSPC, "No space left on device"}, {EDQUOT, "Disk quota exceeded"}}) {
        repository->failNext(
            "download", 1,
            std::make_exception_ptr(std::system_error(error, std::generic_category())));
        test::failSyncsWith(error, downloads());
        for (const QString name : {"big.iso", "big.mkv"}) {
            const TransferJob full = downloadJob(name, downloads());
            ASSERT_TRUE(waitFor(engine->enqueue(full)));
            ASSERT_TRUE(recorder->waitForStatus(full.id, TransferStatus::Failed));
            EXPECT_EQ(recorder->job(full.id)->error->localizedMessage,
                      QStringLiteral("Download failed: ") + text);
            EXPECT_EQ(recorder->job(full.id)->retryCount, 0);
        }
        test::failSyncsWith(0);
    }
    EXPECT_EQ(repository->callCount("download"), 7);
    EXPECT_EQ(entries(downloads()).size(), 3);
}

// Guards against a final rename that fails for a reason other than a taken name being reported as
// success or as a name search, or leaving its temporary file, under every overwrite rule.
TEST_F(TransferQueueActorTest, AFinalRenameThatFailsFailsTheJobAndLeavesNoTemporaryFile)
{
    writeFile(downloads() + "/taken.txt", "old");
    test::failRenamesWith(EIO, downloads());
    for (const auto& [rule, name] : {std::pair{"ask", "new.txt"},
                                     {"rename", "taken.txt"},
                                     {"skip", "new.txt"},
                                     {"overwrite", "taken.txt"}}) {
        preferences->setValue("overwriteRule", rule);
        const TransferJob job = downloadJob(name, downloads());
        ASSERT_TRUE(waitFor(engine->enqueue(job)));
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed)) << rule;
        EXPECT_EQ(recorder->job(job.id)->error->localizedMessage,
                  "Could not save " + downloads() + "/" + name + ": Input/output error")
            << rule;
        EXPECT_EQ(entries(downloads()), QStringList({"taken.txt"})) << rule;
    }
    test::failRenamesWith(0);
    EXPECT_EQ(readFile(downloads() + "/taken.txt"), "old");
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

// Guards against a dropped folder or pipe being offered to the phone as a file of absurd size:
// such an upload fails at once, for good, before any repository is asked.
TEST_F(TransferQueueActorTest, UploadOfAFolderOrPipeFailsAtOnceWithoutAskingThePhone)
{
    const QString folder = downloads() + "/Holiday <b>2024", pipe = downloads() + "/feed";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const auto& [path, message] : QList<std::pair<QString, QString>>{
             {folder, "\u201CHoliday <b>2024\u201D is a folder. Only files can be uploaded."},
             {pipe, "\u201Cfeed\u201D is not a regular file."}}) {
        const QUrl url = QUrl::fromLocalFile(path);
        const TransferJob job = TransferJob::make(
            TransferType::Upload, TransferEndpoint::local(url),
            TransferEndpoint::android("p1", "65537/0", ""), fileSize(url).value_or(0));
        EXPECT_GE(job.totalBytes, 0);
        ASSERT_TRUE(waitFor(engine->enqueue(job)));
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Failed));
        EXPECT_EQ(recorder->job(job.id)->error->localizedMessage, message);
        EXPECT_EQ(recorder->job(job.id)->retryCount, 0);
    }
    EXPECT_EQ(repository->callCount({}), 0);
}

// The device list installs its provider in the engine the way the application wires them: a job
// reaches a phone that was never selected, and a failed open is tried again on every attempt.
TEST_F(TransferQueueActorTest, DeviceListProviderReachesUnselectedPhonesAndRetriesFailedOpens)
{
    auto factory = std::make_shared<FakeRepositoryFactory>();
    factory->setOpenFailure("unknown_1_5",
                            std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
    DeviceListViewModel model(
        std::make_unique<MTPDeviceManager>(std::make_shared<FakeDeviceLister>(), nullptr,
                                           MTPDeviceManager::Timing{1h, 1h}),
        factory,
        [&](RepositoryProvider provider) { engine->setRepositoryProvider(std::move(provider)); });
    drainEvents(); // the installation is a queued call
    const TransferJob reaches = deleteJob("65537/5", "unknown_1_4"),
                      fails = deleteJob("65537/5", "unknown_1_5");
    ASSERT_TRUE(waitFor(engine->enqueue(reaches)));
    ASSERT_TRUE(recorder->waitForStatus(reaches.id, TransferStatus::Completed));
    const auto opened =
        std::static_pointer_cast<FakeRepository>(model.cachedRepository("unknown_1_4"));
    ASSERT_NE(opened, nullptr) << "the provider did not keep the repository it opened";
    EXPECT_EQ(opened->calls(), QStringList{"delete 65537/5"});
    EXPECT_EQ(repository->callCount({}), 0);

    ASSERT_TRUE(waitFor(engine->enqueue(fails)));
    ASSERT_TRUE(recorder->waitForStatus(fails.id, TransferStatus::Failed));
    EXPECT_EQ(recorder->job(fails.id)->error->localizedMessage,
              FileRepositoryError::deviceNotConnected().message());
    EXPECT_EQ(factory->opened().size(), 2 + TransferQueueActor::maxRetries);
    EXPECT_EQ(model.repositoryIds(), QStringList{"unknown_1_4"});
}

class TransferRacesTest : public EngineFixture
{
protected:
    // A download held open on the fake phone, running in the engine.
    std::shared_ptr<FakeFileRepository::Call> startHeldDownload(const TransferJob& job)
    {
        repository->setHold("download", true);
        const int index = repository->callCount("download");
        EXPECT_TRUE(waitFor(engine->enqueue(job)));
        EXPECT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));
        return repository->waitForCall("download", index);
    }
};

// A stopped job whose operation succeeds is completed; one whose operation fails stays stopped, is
// not retried and leaves no partial file.
TEST_F(TransferRacesTest, AJobStoppedWhileItsDownloadRunsSettlesByTheDownloadsOutcome)
{
    for (bool cancel : {false, true}) {
        for (bool succeeds : {true, false}) {
            const QString name = QString("%1%2.txt").arg(cancel).arg(succeeds);
            const TransferJob job = downloadJob(name, downloads());
            auto call = startHeldDownload(job);
            ASSERT_TRUE(call);
            const auto stopped = cancel ? TransferStatus::Canceled : TransferStatus::Paused;
            ASSERT_TRUE(waitFor(cancel ? engine->cancel(job.id) : engine->pause(job.id)));
            ASSERT_TRUE(recorder->waitForStatus(job.id, stopped));
            if (succeeds) {
                repository->succeed(*call);
                ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
                EXPECT_EQ(recorder->job(job.id)->progress, 1.0);
                EXPECT_EQ(readFile(downloads() + "/" + name), repository->downloadContent);
                continue;
            }
            const int published = recorder->count();
            repository->fail(*call);
            // The end of the attempt is published even though the job stays as it is.
            ASSERT_TRUE(waitUntil([&] { return recorder->count() > published; }));
            const TransferJob after = *recorder->job(job.id);
            EXPECT_TRUE(after.status == stopped && after.retryCount == 0 && !after.error);
            EXPECT_EQ(repository->callCount("download"), 2 + 2 * cancel) << "no retry";
            EXPECT_EQ(entries(downloads()).size(), 1 + cancel) << "no partial file is left";
        }
    }
}

// Two jobs run at a time, in list order; a paused job's slot is filled only by the next event; a
// job resumed while no slot is free waits its turn, and the failure of its abandoned operation is
// not counted against it. Clearing moves jobs up in the list: they must still be found by their
// ids.
TEST_F(TransferRacesTest, RunsTwoJobsAtATimeAndClearingKeepsTheOthersReachable)
{
    repository->setHold("delete", true);
    const TransferJob a = deleteJob("65537/1"), b = deleteJob("65537/2"), c = deleteJob("65537/3"),
                      d = deleteJob("65537/4");
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b, c, a})));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Running));
    EXPECT_EQ(recorder->latest().size(), 3) << "a job enqueued twice is kept once";
    EXPECT_EQ(recorder->job(a.id)->status, TransferStatus::Running);
    EXPECT_EQ(recorder->job(c.id)->status, TransferStatus::Queued);
    auto first = repository->waitForCall("delete", 0, "65537/1");
    ASSERT_TRUE(first);
    // Only running jobs: nothing to remove, but the list goes out all the same.
    int published = recorder->count();
    ASSERT_TRUE(waitFor(engine->clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return recorder->count() == published + 1; }));

    ASSERT_TRUE(waitFor(engine->pause(a.id)));
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Paused));
    EXPECT_EQ(recorder->job(c.id)->status, TransferStatus::Queued);
    ASSERT_TRUE(waitFor(engine->enqueue(d)));
    ASSERT_TRUE(recorder->waitForStatus(c.id, TransferStatus::Running));
    EXPECT_EQ(recorder->job(d.id)->status, TransferStatus::Queued);
    ASSERT_TRUE(waitFor(engine->resume(a.id)));
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Queued)) << "no slot free";

    published = recorder->count();
    repository->fail(*first);
    ASSERT_TRUE(waitUntil([&] { return recorder->count() > published; }));
    EXPECT_EQ(recorder->job(a.id)->status, TransferStatus::Queued);
    EXPECT_EQ(recorder->job(a.id)->retryCount, 0);
    repository->succeed(*repository->waitForCall("delete", 0, "65537/2"));
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Running));
    EXPECT_EQ(recorder->job(b.id)->progress, 1.0);
    EXPECT_EQ(recorder->job(d.id)->status, TransferStatus::Queued);

    ASSERT_TRUE(waitFor(engine->clearCompleted()));
    ASSERT_TRUE(waitUntil([&] { return recorder->latest().size() == 3; }));
    EXPECT_EQ(recorder->latest().at(1).id, c.id);
    ASSERT_TRUE(waitFor(engine->pause(c.id)));
    ASSERT_TRUE(recorder->waitForStatus(c.id, TransferStatus::Paused));
    ASSERT_TRUE(waitFor(engine->enqueue(deleteJob("65537/5"))));
    ASSERT_TRUE(recorder->waitForStatus(d.id, TransferStatus::Running));

    // Only the newest listener hears, and earlier lists are not replayed to it.
    PublicationRecorder newer(*engine);
    const int olderCount = recorder->count();
    drainEvents();
    EXPECT_EQ(newer.count(), 0) << "a publication made before the stream is lost";
    ASSERT_TRUE(waitFor(engine->pause(d.id)));
    ASSERT_TRUE(newer.waitForStatus(d.id, TransferStatus::Paused));
    EXPECT_EQ(newer.latest().size(), 4) << "the next publication carries the whole list";
    EXPECT_EQ(recorder->count(), olderCount) << "the replaced listener hears nothing more";
}

TEST_F(TransferRacesTest, ProgressIsGatedIgnoredWhilePausedAndCountsAgainOnceResumed)
{
    const TransferJob job = downloadJob("v.mp4", downloads());
    auto call = startHeldDownload(job);
    ASSERT_TRUE(call);
    const int before = recorder->count();
    const auto report = [&](std::chrono::milliseconds after, qint64 done, qint64 total) {
        clock.advance(after);
        call->progress(done, total);
        // Once pausing an unknown job is done, the report has been applied, publishing nothing.
        EXPECT_TRUE(waitFor(engine->pause(QUuid())));
        drainEvents();
        return *recorder->job(job.id);
    };

    call->progress(0, 0); // the first report always passes and publishes
    ASSERT_TRUE(waitUntil([&] { return recorder->count() > before; }));
    EXPECT_EQ(report(50ms, 300, 0).bytesTransferred, 0) << "dropped: 50 ms after the last one";
    const TransferJob early = report(450ms, 400, 0); // 0.5 s exactly since the start
    EXPECT_EQ(early.bytesTransferred, 400) << "a total of 0 keeps the bytes";
    EXPECT_TRUE(early.progress == 0.0 && !early.transferSpeed) << "no speed yet";
    const TransferJob measured = report(100ms, 600, 1200);
    EXPECT_DOUBLE_EQ(measured.progress, 0.5);
    ASSERT_TRUE(measured.transferSpeed);
    EXPECT_NEAR(*measured.transferSpeed, 1000.0, 1e-6) << "600 bytes in 0.6 s";
    EXPECT_NEAR(*report(1s, 1100, 1200).transferSpeed, 500.0, 1e-6) << "the last window only";

    ASSERT_TRUE(waitFor(engine->pause(job.id)));
    const TransferJob paused = report(1s, 1150, 1200);
    EXPECT_EQ(paused.bytesTransferred, 1100) << "reports of a paused job change nothing";
    EXPECT_EQ(paused.status, TransferStatus::Paused);

    // Resumed while the old operation runs, the job takes it back: its reports count again, and any
    // second operation would finish at once and show up in the call log.
    repository->setHold("download", false);
    ASSERT_TRUE(waitFor(engine->resume(job.id)));
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Running));
    EXPECT_EQ(report(1s, 1150, 1200).bytesTransferred, 1150);
    repository->succeed(*call);
    ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    engine.reset(); // waits for every worker
    EXPECT_EQ(repository->callCount("download"), 1);
    EXPECT_EQ(entries(downloads()), QStringList({"v.mp4"}));
}

// The rule is read for every download, and a partial file of a failed attempt is never taken for a
// finished one.
TEST_F(TransferRacesTest, TheOverwriteRuleIsReadForEveryDownload)
{
    writeFile(downloads() + "/photo.jpg", "old");
    const auto run = [&](const QString& rule, const QString& name = "photo.jpg") {
        preferences->setValue("overwriteRule", rule);
        const TransferJob job = downloadJob(name, downloads());
        EXPECT_TRUE(waitFor(engine->enqueue(job)));
        EXPECT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
        return *recorder->job(job.id);
    };
    EXPECT_EQ(run("skip").bytesTransferred, 0);
    EXPECT_EQ(repository->callCount("download"), 0);
    EXPECT_EQ(readFile(downloads() + "/photo.jpg"), "old");
    repository->failNext("download", 1);
    EXPECT_EQ(run("skip", "doc.pdf").retryCount, 1);
    EXPECT_EQ(readFile(downloads() + "/doc.pdf"), repository->downloadContent);

    run("Overwrite"); // not a rule: counts as "ask"
    run("rename");
    EXPECT_EQ(entries(downloads()),
              QStringList({"doc.pdf", "photo (1).jpg", "photo (2).jpg", "photo.jpg"}));
    run("overwrite");
    EXPECT_EQ(readFile(downloads() + "/photo.jpg"), repository->downloadContent);
    EXPECT_EQ(entries(downloads()).size(), 4);
}

TEST_F(TransferRacesTest, TwoDownloadsOfOneNameBothSurviveWithTheirFinalFigures)
{
    repository->setHold("download", true);
    const TransferJob a = downloadJob("same.txt", downloads());
    const TransferJob b = downloadJob("same.txt", downloads());
    ASSERT_TRUE(waitFor(engine->enqueue(QList<TransferJob>{a, b})));
    auto first = repository->waitForCall("download", 0);
    auto second = repository->waitForCall("download", 1);
    ASSERT_TRUE(first && second);
    first->progress(10, 40);
    // The fake reports the whole file as it finishes, right after: the gate drops that report, but
    // the final figures must still show.
    repository->succeed(*first);
    repository->succeed(*second);
    ASSERT_TRUE(recorder->waitForStatus(a.id, TransferStatus::Completed));
    ASSERT_TRUE(recorder->waitForStatus(b.id, TransferStatus::Completed));
    EXPECT_EQ(entries(downloads()), QStringList({"same (1).txt", "same.txt"}));
    const qint64 size = repository->downloadContent.size();
    const TransferJob done = *recorder->job(a.id);
    EXPECT_TRUE(done.bytesTransferred == size && done.totalBytes == size && done.progress == 1.0);
}

// A move whose deletion failed retries only the deletion: one copy on the phone, not two.
TEST_F(TransferRacesTest, MovesCopiesAndOtherOperationsReachTheRightRepositoryCalls)
{
    repository->failNext("delete", 1);
    const auto phone = [](const QString& path, const QString& name) {
        return TransferEndpoint::android("unknown_1_2", path, name);
    };
    const QString local = downloads() + "/up.txt";
    writeFile(local, "12345");
    const QList<TransferJob> jobs = {
        TransferJob::make(TransferType::Move, phone("65537/12", "clip.mp4"),
                          phone("65537/40", "Movies")),
        TransferJob::make(TransferType::Copy, phone("65537/13", "song.mp3"),
                          phone("65537/41", "Music")),
        TransferJob::make(TransferType::CreateFolder, phone("65537/0", "New"),
                          phone("65537/0", "New")),
        TransferJob::make(TransferType::Upload, TransferEndpoint::local(QUrl::fromLocalFile(local)),
                          phone("65537/42", "")),
    };
    ASSERT_TRUE(waitFor(engine->enqueue(jobs)));
    for (const TransferJob& job : jobs)
        ASSERT_TRUE(recorder->waitForStatus(job.id, TransferStatus::Completed));
    EXPECT_EQ(recorder->job(jobs[0].id)->retryCount, 1);
    EXPECT_EQ(repository->callCount("move"), 1);
    EXPECT_EQ(repository->callCount("download"), 2);
    EXPECT_EQ(repository->callCount("upload"), 3);
    EXPECT_EQ(repository->callCount("delete"), 2) << "a copy keeps its source";
    EXPECT_EQ(repository->waitForCall("delete", 1)->path, "65537/12");
    EXPECT_EQ(repository->waitForCall("create")->target, "New");
    EXPECT_EQ(repository->waitForCall("create")->path, "65537/0");
    EXPECT_EQ(repository->waitForCall("upload", 0, local)->target, "65537/42");
    EXPECT_EQ(recorder->job(jobs[3].id)->bytesTransferred, 5);
}

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

// Guards against a completion lost when the job is cleared before the list showing it arrives.
TEST_F(TransferQueueViewModelTest, EveryCompletionIsReportedOnceEvenIfTheJobWasClearedMeanwhile)
{
    TransferJob done = downloadJob("a", downloads());
    done.status = TransferStatus::Completed;
    const TransferJob other = downloadJob("b", downloads());
    TransferJobStream stream;
    QStringList order;
    QList<TransferJob> reported;
    QObject::connect(&stream, &TransferJobStream::completed, [&](const QList<TransferJob>& jobs) {
        order << "completed";
        reported += jobs;
    });
    QObject::connect(&stream, &TransferJobStream::published,
                     [&](const QList<TransferJob>&) { order << "published"; });
    // Two publications before the receiving thread looks: the second list no longer holds it.
    stream.inbox()->offer({done, other}, {done});
    stream.inbox()->offer({other});
    drainEvents();
    EXPECT_EQ(order, QStringList({"completed", "published"}));
    EXPECT_EQ(ids(reported), QList<QUuid>{done.id});
    stream.inbox()->offer({other});
    drainEvents();
    EXPECT_EQ(order.size(), 3);

    // Through the engine: one report per completed job, failed ones not reported.
    TransferQueueViewModel model(*engine);
    QSignalSpy completed(&model, &TransferQueueViewModel::jobsCompleted);
    repository->failNext("create", 4);
    const auto folder = TransferEndpoint::android("unknown_1_2", "65537/0", "New");
    const TransferJob failing = TransferJob::make(TransferType::CreateFolder, folder, folder);
    ASSERT_TRUE(waitFor(model.enqueue(QList<TransferJob>{other, failing})));
    ASSERT_TRUE(waitForStatus(model, failing.id, TransferStatus::Failed));
    ASSERT_TRUE(waitForStatus(model, other.id, TransferStatus::Completed));
    QList<TransferJob> all;
    for (const QList<QVariant>& call : completed)
        all += call.at(0).value<QList<TransferJob>>();
    ASSERT_EQ(ids(all), QList<QUuid>{other.id});
    EXPECT_EQ(all.at(0).status, TransferStatus::Completed);
    EXPECT_EQ(all.at(0).destination.url, other.destination.url);
}

} // namespace
} // namespace qb::test
