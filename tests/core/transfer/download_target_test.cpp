#include "core/transfer/commit_step.h"
#include "core/transfer/download_target.h"
#include "core/transfer/transfer_preferences.h"
#include "engine_test_support.h"
#include "platform/local_files.h"
#include "platform/sync_spy.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>

namespace qb::test {
namespace {

QString uuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Guards against a half-written file replacing a whole one, a download replacing a folder, crash
// leftovers piling up (nothing but old leftovers of our own names may ever be removed: a user's
// ".quillbay-notes.part" stays) and hostile names leaving the folder or addressing it. Free names
// count up before the last extension.
TEST(DownloadTarget, OverwritesOnlyWholeFilesStaysInsideTheFolderAndFindsFreeNames)
{
    QTemporaryDir dir;
    const QString fresh = ".quillbay-" + uuid() + ".part";
    const QStringList users{".quillbay-notes.part", ".quillbay-upload-notes.part",
                            ".quillbay-" + uuid().toUpper() + ".part", ".quillbay-.txt", "o.part"};
    for (const QString& name : users + QStringList{fresh, ".quillbay-" + uuid() + ".part",
                                                   ".quillbay-upload-" + uuid() + ".part"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        if (name != fresh)
            file.setFileTime(QDateTime::currentDateTime().addDays(-2), QFile::FileModificationTime);
    }
    writeFile(dir.filePath("photo.jpg"), "old");
    DownloadTarget target(dir.path(), "photo.jpg", OverwriteRule::Overwrite);
    ASSERT_TRUE(target.prepare());
    writeFile(target.temporaryPath(), "half");
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "old") << "still there while downloading";
    writeFile(target.temporaryPath(), "complete");
    ASSERT_TRUE(target.commit());
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "complete");
    QStringList kept = users + QStringList{fresh, "photo.jpg"};
    kept.sort();
    EXPECT_EQ(entries(dir.path()), kept);

    const auto save = [](const QString& folder, const QString& name, OverwriteRule rule) {
        DownloadTarget saved(folder, name, rule);
        EXPECT_TRUE(saved.prepare());
        writeFile(saved.temporaryPath(), "x");
        EXPECT_TRUE(saved.commit());
        return saved.finalPath();
    };
    ASSERT_TRUE(QDir(dir.path()).mkpath("photos"));
    EXPECT_EQ(save(dir.path(), "photos", OverwriteRule::Overwrite), dir.filePath("photos (1)"));
    EXPECT_TRUE(QFileInfo(dir.filePath("photos")).isDir());

    const QString inbox = dir.filePath("inbox");
    for (const QString name : {"..", "../escape", "", ".", "...", R"(/\:*?"<>|)", "Ü:.jpg"})
        save(inbox, name, OverwriteRule::Ask);
    EXPECT_EQ(entries(inbox), QStringList({"...", ".._escape", "Untitled", "Untitled (1)",
                                           "Untitled (2)", "_________", "Ü_.jpg"}));
    EXPECT_EQ(entries(dir.path()).size(), 10) << "nothing escaped the inbox";

    for (const auto& [name, free] : {std::pair{"notes", "notes (1)"},
                                     {"archive.tar.gz", "archive.tar (1).gz"},
                                     {".profile", ".profile (1)"}}) {
        writeFile(dir.filePath(name), "x");
        EXPECT_EQ(DownloadTarget::uniqueDestination(dir.filePath(name)), dir.filePath(free));
    }

    // A folder that cannot be created fails with its path.
    writeFile(dir.filePath("plain"), "a file where a folder should be");
    try {
        DownloadTarget(dir.filePath("plain/sub"), "a.txt", OverwriteRule::Ask).prepare();
        ADD_FAILURE() << "prepare() should throw";
    } catch (const TransferError& e) {
        EXPECT_TRUE(e.localizedMessage.contains(dir.filePath("plain/sub")));
    }
}

// Guards against a save failing on a file system that cannot make hard links (FUSE file systems
// answer the link with ENOSYS, EROFS or EPERM, one that allows a single name with EMLINK): the file
// takes its name by a plain rename there, never over another file, while a link that fails for
// another reason still fails the save.
TEST(DownloadTarget, SavesWithoutReplacingOnFileSystemsThatCannotLink)
{
    QTemporaryDir dir;
    test::failNoReplaceRenamesWith(EINVAL, dir.path());
    const auto save = [&](const QString& name, OverwriteRule rule, const QByteArray& bytes) {
        DownloadTarget target(dir.path(), name, rule);
        EXPECT_TRUE(target.prepare());
        writeFile(target.temporaryPath(), bytes);
        return target.commit() ? target.finalPath() : QString();
    };
    QStringList saved;
    for (const int error : {ENOSYS, EROFS, EPERM, EOPNOTSUPP, EMLINK}) {
        test::failLinksWith(error, dir.path());
        const QString name = QString::number(error);
        try {
            EXPECT_EQ(save(name, OverwriteRule::Ask, "first"), dir.filePath(name));
            EXPECT_EQ(save(name, OverwriteRule::Rename, "second"), dir.filePath(name + " (1)"));
            // A file that takes the name while the download runs stays.
            DownloadTarget skipped(dir.path(), name + " kept", OverwriteRule::Skip);
            ASSERT_TRUE(skipped.prepare());
            writeFile(skipped.temporaryPath(), "download");
            writeFile(dir.filePath(name + " kept"), "user's");
            EXPECT_FALSE(skipped.commit());
        } catch (const TransferError& e) {
            ADD_FAILURE() << name.toStdString() << ": " << e.localizedMessage.toStdString();
        }
        EXPECT_EQ(readFile(dir.filePath(name)), "first") << name.toStdString();
        EXPECT_EQ(readFile(dir.filePath(name + " (1)")), "second") << name.toStdString();
        EXPECT_EQ(readFile(dir.filePath(name + " kept")), "user's") << name.toStdString();
        saved << name << name + " (1)" << name + " kept";
    }
    test::failLinksWith(EIO, dir.path());
    EXPECT_THROW(save("broken", OverwriteRule::Ask, "x"), TransferError);
    test::failLinksWith(0);
    test::failNoReplaceRenamesWith(0);
    saved.sort();
    EXPECT_EQ(entries(dir.path()), saved) << "nothing under the failed name, no temporary file";
}

// Sets the modification time of a file or folder two days back.
void age(const QString& path)
{
    const timespec then{QDateTime::currentSecsSinceEpoch() - 2 * 86400, 0};
    const timespec times[2] = {then, then};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

// Guards against listing the destination folder on every download (a batch into a large folder is
// then quadratic), and against copy folders that a crash left in the cache folder staying forever;
// a copy folder still written to, and whatever else is in the cache folder, must stay.
TEST(DownloadTarget, LeftoversAreSweptOncePerFolderAndStaleCopyFoldersAtStartUp)
{
    QTemporaryDir dir;
    const QString second = ".quillbay-" + uuid() + ".part";
    for (const QString& leftover : {".quillbay-" + uuid() + ".part", second}) {
        writeFile(dir.filePath(leftover), "crashed");
        age(dir.filePath(leftover));
        DownloadTarget(dir.path(), "a.txt", OverwriteRule::Ask).prepare();
    }
    EXPECT_EQ(entries(dir.path()).filter(".part"), QStringList({second}))
        << "the folder is swept on its first download only";

    qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
    const QString fresh = LocalFiles::createTemporaryFolder();
    ASSERT_FALSE(fresh.isEmpty());
    const QString cache = QFileInfo(fresh).path();
    const QString stale = uuid().toUpper(), busy = uuid().toUpper();
    // Besides the fresh and the busy copy folder, a lower-case name and another program's folder.
    QStringList kept{QFileInfo(fresh).fileName(), busy, uuid(), "thumbnails"};
    for (const QString& name : kept.mid(1) + QStringList{stale}) {
        const QString folder = cache + "/" + name;
        ASSERT_TRUE(QDir().mkpath(folder + "/1"));
        writeFile(folder + "/1/movie.mp4", "part of a copy");
        for (const QString& path : {folder + "/1/movie.mp4", folder + "/1", folder})
            age(path);
    }
    writeFile(cache + "/" + busy + "/1/movie.mp4", "still being written");
    LocalFiles::removeStaleTemporaryFolders();
    qunsetenv("XDG_CACHE_HOME");
    QStringList left = entries(cache);
    left.sort();
    kept.sort();
    EXPECT_EQ(left, kept);
}

// Guards against a folder flush per file, a file reported done before its folder is flushed, a
// vanished file leaving anything under the final name, a failed commit told before its temporary
// file is gone, and a failure spoiling the other files of its round. A full disk during the commit
// is the engine test's.
TEST(CommitStep, FlushesEachFolderOnceForTheFilesCommittedTogether)
{
    QTemporaryDir dir;
    const QString sub = dir.filePath("sub");
    test::clearSyncCalls();
    test::holdSyncs(dir.path());
    const auto prepared = [](const QString& folder, const QString& name, const QByteArray& bytes) {
        auto target = std::make_shared<DownloadTarget>(folder, name, OverwriteRule::Rename);
        EXPECT_TRUE(target->prepare());
        writeFile(target->temporaryPath(), bytes);
        return target;
    };
    std::mutex mutex;
    QHash<QString, TransferAttempt::Result> outcomes;
    QHash<QString, qsizetype> flushesSeen; // of the file's folder when it was reported done
    QSet<QString> temporaryFileSeen;       // when it was reported done
    QSemaphore done;
    CommitStep step;
    const auto submit = [&](const std::shared_ptr<DownloadTarget>& target, const QString& name) {
        step.submit(target,
                    [&, name, folder = "fsync " + target->folderPath(),
                     temporary = target->temporaryPath()](const TransferAttempt::Result& outcome) {
                        const std::lock_guard lock(mutex);
                        outcomes.insert(name, outcome);
                        flushesSeen.insert(name, test::syncCalls().count(folder));
                        if (QFileInfo::exists(temporary))
                            temporaryFileSeen.insert(name);
                        done.release();
                    });
    };
    submit(prepared(dir.path(), "a.txt", "aaaa"), "a");
    ASSERT_TRUE(waitUntil([] { return test::heldSyncs() == 1; }));
    submit(prepared(dir.path(), "b.txt", "bb"), "b");
    submit(prepared(sub, "c.txt", "c"), "c");
    const auto vanished = prepared(dir.path(), "gone.txt", "x");
    QFile::remove(vanished->temporaryPath());
    submit(vanished, "gone");
    submit(prepared(dir.path(), "a.txt", "second a"), "a2");
    test::failRenamesWith(EIO, dir.filePath("broken.txt"));
    submit(prepared(dir.path(), "broken.txt", "x"), "broken");
    test::releaseSyncs();
    ASSERT_TRUE(done.tryAcquire(6, 10000));
    test::failRenamesWith(0);

    EXPECT_EQ(flushesSeen.value("a"), 1);
    EXPECT_EQ(flushesSeen.value("b"), 2) << "b and a2 share one flush of their folder";
    EXPECT_EQ(flushesSeen.value("a2"), 2);
    EXPECT_EQ(flushesSeen.value("c"), 1);
    EXPECT_EQ(outcomes.value("a2").fileSize, 8);
    EXPECT_EQ(readFile(dir.filePath("a (1).txt")), "second a");
    EXPECT_EQ(readFile(sub + "/c.txt"), "c");

    EXPECT_FALSE(outcomes.value("gone").succeeded);
    EXPECT_EQ(outcomes.value("gone").errorMessage,
              "Could not save " + dir.filePath("gone.txt") + ": No such file or directory");
    EXPECT_FALSE(outcomes.value("broken").succeeded);
    EXPECT_EQ(temporaryFileSeen, QSet<QString>()) << "each was gone before its outcome was told";
    EXPECT_EQ(entries(dir.path()), QStringList({"a (1).txt", "a.txt", "b.txt", "sub"}))
        << "nothing under the failed names, no temporary file left";
}

// Guards against a disk that never ends a flush keeping the step's owner, and so the quit, waiting
// for ever, a file taking its name before it is whole, and the thread left running using what its
// step freed.
TEST(CommitStep, StopsWaitingForAHeldFlushAfterItsShutdownWait)
{
    QTemporaryDir dir;
    const auto target =
        std::make_shared<DownloadTarget>(dir.path(), "held.txt", OverwriteRule::Ask);
    ASSERT_TRUE(target->prepare());
    writeFile(target->temporaryPath(), "whole");
    test::holdSyncs(dir.path());
    auto done = std::make_shared<QSemaphore>();
    auto step = std::make_unique<CommitStep>(std::chrono::milliseconds(200));
    step->submit(target, [done](const TransferAttempt::Result& outcome) {
        EXPECT_TRUE(outcome.succeeded);
        done->release();
    });
    ASSERT_TRUE(waitUntil([] { return test::heldSyncs() == 1; }));
    QElapsedTimer clock;
    clock.start();
    step.reset();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(CommitStep::leftRunning());
    EXPECT_EQ(entries(dir.path()), QStringList{QFileInfo(target->temporaryPath()).fileName()});

    test::releaseSyncs();
    ASSERT_TRUE(done->tryAcquire(1, 10000));
    EXPECT_EQ(entries(dir.path()), QStringList{"held.txt"});
    EXPECT_EQ(readFile(dir.filePath("held.txt")), "whole");
    EXPECT_TRUE(waitUntil([] { return !CommitStep::leftRunning(); }));
}

TEST(TransferPreferences, BadStoredValuesReadAsDefaultsAndAreNotRewritten)
{
    QTemporaryDir dir;
    QSettingsPreferenceStore store(dir.filePath("prefs.ini"));
    TransferPreferences prefs(store);
    store.setValue("downloadFolder", QStringList{"a", "b"});
    store.setValue("overwriteRule", "Overwrite");
    store.setValue("showQuickAccess", "maybe");
    EXPECT_EQ(prefs.downloadFolder(), QString());
    // The raw text goes to the engine as stored; as a rule it counts as "ask".
    EXPECT_EQ(prefs.overwriteRuleText(), "Overwrite");
    EXPECT_EQ(prefs.overwriteRule(), OverwriteRule::Ask);
    EXPECT_TRUE(prefs.showQuickAccess());
    EXPECT_EQ(store.value("downloadFolder")->toStringList(), (QStringList{"a", "b"}));
    EXPECT_EQ(store.value("showQuickAccess")->toString(), "maybe");

    // Parallel transfers stay within one to eight.
    for (const QVariant& stored : {QVariant("many"), QVariant(0), QVariant(9), QVariant(2.5)}) {
        store.setValue("parallelTransfers", stored);
        EXPECT_EQ(prefs.parallelTransfers(), 2) << stored.toString().toStdString();
    }
    EXPECT_EQ(store.value("parallelTransfers")->toDouble(), 2.5);
    store.setValue("parallelTransfers", 8);
    EXPECT_EQ(prefs.parallelTransfers(), 8);
    prefs.setParallelTransfers(12);
    EXPECT_EQ(prefs.parallelTransfers(), 8);
    prefs.setParallelTransfers(0);
    EXPECT_EQ(prefs.parallelTransfers(), 1);
}

TEST(TransferJob, EndpointsOfDifferentKindsNeverMatch)
{
    const auto phone = TransferEndpoint::android("dev", "1/2", "a.jpg");
    TransferEndpoint local = phone; // a local endpoint whose leftover fields match
    local.kind = TransferEndpoint::Kind::Local;
    EXPECT_NE(local, phone);
    EXPECT_EQ(
        (QSet<TransferEndpoint>{phone, local, TransferEndpoint::android("dev", "1/2", "a.jpg")}
             .size()),
        2);
    EXPECT_FALSE(fileSize(QUrl::fromLocalFile("/nonexistent/a.bin")));
    EXPECT_FALSE(fileSize(QUrl("https://example.invalid/a.bin")));
}

} // namespace
} // namespace qb::test
