#include "core/transfer/download_target.h"

#include "core/transfer/transfer_job.h"
#include "platform/sync_spy.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qb::test {
namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Runs one download into the folder as the engine does, the phone giving `content`.
bool download(const QString& folder, const QString& name, OverwriteRule rule,
              const QByteArray& content, QString* finalPath = nullptr)
{
    DownloadTarget target(folder, name, rule);
    if (!target.prepare())
        return false;
    writeFile(target.temporaryPath(), content);
    const bool kept = target.commit();
    if (finalPath)
        *finalPath = target.finalPath();
    return kept;
}

TEST(DownloadTargetNames, ReplaceTheNineForbiddenCharactersAndNamesThatAddressAFolder)
{
    const std::pair<QString, QString> cases[] = {
        {"a:b?.txt", "a_b_.txt"},
        {R"(/\:*?"<>|)", "_________"},
        {"Ünïcode name .jpg", "Ünïcode name .jpg"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        // These would address the folder itself or its parent.
        {"", "Untitled"},
        {".", "Untitled"},
        {"..", "Untitled"},
        {"...", "..."},
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(DownloadTarget::safeLocalName(name), safe) << name.toStdString();
}

TEST(DownloadTargetNames, FreeNamesCountUpBeforeTheLastExtension)
{
    QTemporaryDir dir;
    const QString base = dir.path();
    EXPECT_EQ(DownloadTarget::uniqueDestination(base + "/photo.jpg"), base + "/photo.jpg");
    writeFile(base + "/photo.jpg", "1");
    EXPECT_EQ(DownloadTarget::uniqueDestination(base + "/photo.jpg"), base + "/photo (1).jpg");
    writeFile(base + "/photo (1).jpg", "2");
    EXPECT_EQ(DownloadTarget::uniqueDestination(base + "/photo.jpg"), base + "/photo (2).jpg");
    writeFile(base + "/notes", "3");
    EXPECT_EQ(DownloadTarget::uniqueDestination(base + "/notes"), base + "/notes (1)");
    writeFile(base + "/archive.tar.gz", "4");
    EXPECT_EQ(DownloadTarget::uniqueDestination(base + "/archive.tar.gz"),
              base + "/archive.tar (1).gz");
    writeFile(base + "/.profile", "5");
    EXPECT_EQ(DownloadTarget::uniqueDestination(base + "/.profile"), base + "/.profile (1)");
}

TEST(DownloadTarget, AskAndRenameKeepTheExistingFileAndSaveUnderAFreeName)
{
    for (OverwriteRule rule : {OverwriteRule::Ask, OverwriteRule::Rename}) {
        QTemporaryDir dir;
        writeFile(dir.filePath("photo.jpg"), "old");
        QString saved;
        ASSERT_TRUE(download(dir.path(), "photo.jpg", rule, "new", &saved));
        EXPECT_EQ(saved, dir.filePath("photo (1).jpg"));
        EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "old");
        EXPECT_EQ(readFile(dir.filePath("photo (1).jpg")), "new");
        EXPECT_EQ(entries(dir.path()), QStringList({"photo (1).jpg", "photo.jpg"}));
    }
}

TEST(DownloadTarget, SkipTouchesNothingWhenTheNameIsTaken)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("photo.jpg"), "old");
    EXPECT_FALSE(download(dir.path(), "photo.jpg", OverwriteRule::Skip, "new"));
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "old");
    EXPECT_EQ(entries(dir.path()), QStringList({"photo.jpg"}));
}

TEST(DownloadTarget, SkipCreatesNoFolderButAFreshDownloadDoes)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("new/deeper");
    ASSERT_TRUE(download(folder, "a.txt", OverwriteRule::Skip, "x"));
    EXPECT_EQ(readFile(folder + "/a.txt"), "x");
}

TEST(DownloadTarget, OverwriteReplacesAFileOnlyOnceTheNewOneIsComplete)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("photo.jpg"), "old");
    DownloadTarget target(dir.path(), "photo.jpg", OverwriteRule::Overwrite);
    ASSERT_TRUE(target.prepare());
    writeFile(target.temporaryPath(), "half");
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "old") << "still there while downloading";
    writeFile(target.temporaryPath(), "complete");
    ASSERT_TRUE(target.commit());
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "complete");
    EXPECT_EQ(entries(dir.path()), QStringList({"photo.jpg"}));
}

// Guards against a power cut leaving an empty file under the final name, and against crash
// leftovers piling up; nothing but old leftovers may ever be removed.
TEST(DownloadTarget, FlushedBeforeItsNameAndOldLeftoversRemoved)
{
    QTemporaryDir dir;
    for (const QString name :
         {".quillbay-new.part", ".quillbay-old.part", ".quillbay-.txt", "o.part"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        if (!name.contains("new"))
            file.setFileTime(QDateTime::currentDateTime().addDays(-2), QFile::FileModificationTime);
    }
    test::clearSyncCalls();
    ASSERT_TRUE(download(dir.path(), "photo.jpg", OverwriteRule::Overwrite, "new"));
    EXPECT_EQ(entries(dir.path()),
              QStringList({".quillbay-.txt", ".quillbay-new.part", "o.part", "photo.jpg"}));
    const QStringList syncs = test::syncCalls(); // the file under its temporary name, the folder
    ASSERT_EQ(syncs.size(), 2);
    EXPECT_TRUE(syncs[0].startsWith("fdatasync " + dir.filePath(".quillbay-")) &&
                syncs[0].endsWith(".part"));
    EXPECT_EQ(syncs[1], "fsync " + dir.path());
}

TEST(DownloadTarget, OverwriteNeverReplacesAFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("photos"));
    writeFile(dir.filePath("photos/keep.jpg"), "kept");
    QString saved;
    ASSERT_TRUE(download(dir.path(), "photos", OverwriteRule::Overwrite, "file", &saved));
    EXPECT_EQ(saved, dir.filePath("photos (1)"));
    EXPECT_EQ(readFile(dir.filePath("photos/keep.jpg")), "kept");
}

TEST(DownloadTarget, AFailedDownloadLeavesNoPartialFile)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("photo.jpg"), "old");
    {
        DownloadTarget target(dir.path(), "photo.jpg", OverwriteRule::Overwrite);
        ASSERT_TRUE(target.prepare());
        writeFile(target.temporaryPath(), "trunc");
    }
    EXPECT_EQ(entries(dir.path()), QStringList({"photo.jpg"}));
    EXPECT_EQ(readFile(dir.filePath("photo.jpg")), "old");
    // So a retry under "skip" cannot take a truncated file for a finished one.
    {
        DownloadTarget target(dir.path(), "fresh.bin", OverwriteRule::Skip);
        ASSERT_TRUE(target.prepare());
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("fresh.bin")));
}

TEST(DownloadTarget, TwoDownloadsOfOneNameBothSurvive)
{
    // Both chose the same free name before either finished: the later one moves on.
    QTemporaryDir dir;
    DownloadTarget first(dir.path(), "song.mp3", OverwriteRule::Ask);
    DownloadTarget second(dir.path(), "song.mp3", OverwriteRule::Ask);
    ASSERT_TRUE(first.prepare());
    ASSERT_TRUE(second.prepare());
    writeFile(first.temporaryPath(), "first");
    writeFile(second.temporaryPath(), "second");
    ASSERT_TRUE(first.commit());
    ASSERT_TRUE(second.commit());
    EXPECT_EQ(readFile(dir.filePath("song.mp3")), "first");
    EXPECT_EQ(readFile(dir.filePath("song (1).mp3")), "second");
    EXPECT_EQ(entries(dir.path()), QStringList({"song (1).mp3", "song.mp3"}));
}

TEST(DownloadTarget, HostileNamesStayInsideTheFolder)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("inbox");
    for (const QString& name : {QStringLiteral(".."), QStringLiteral("../escape"), QString()})
        ASSERT_TRUE(download(folder, name, OverwriteRule::Ask, "x"));
    EXPECT_EQ(entries(dir.path()), QStringList({"inbox"}));
    EXPECT_EQ(entries(folder), QStringList({".._escape", "Untitled", "Untitled (1)"}));
}

TEST(DownloadTarget, AFolderThatCannotBeCreatedFailsWithItsPath)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("plain"), "a file where a folder should be");
    DownloadTarget target(dir.filePath("plain/sub"), "a.txt", OverwriteRule::Ask);
    try {
        target.prepare();
        FAIL() << "prepare() should throw";
    } catch (const TransferError& e) {
        EXPECT_TRUE(e.localizedMessage.contains(dir.filePath("plain/sub")))
            << e.localizedMessage.toStdString();
    }
}

} // namespace
} // namespace qb::test
