#include "wifi/upload_file_writer.h"

#include "platform/sync_spy.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace qb {
namespace {

Logger testLog()
{
    return Logger(QStringLiteral("WiFiAdvertiser.Conn"), true);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes `bytes` as one upload named `name`; the final path.
QString upload(const QString& downloads, const QString& name, const QByteArray& bytes)
{
    UploadFileWriter writer(testLog());
    EXPECT_EQ(writer.open(downloads, 1700000000), UploadFileWriter::Error::None);
    EXPECT_TRUE(writer.write(bytes.constData(), bytes.size()));
    return writer.commit(name).value_or(QString());
}

TEST(UploadFileWriter, NamesAreReducedToOneSafeComponent)
{
    const qint64 now = 1700000000;
    EXPECT_EQ(UploadFileWriter::uploadName(QString("photo.jpg"), now), "photo.jpg");
    EXPECT_EQ(UploadFileWriter::uploadName(QString("../../.bashrc"), now), ".bashrc");
    EXPECT_EQ(UploadFileWriter::uploadName(QString("/etc/passwd"), now), "passwd");
    EXPECT_EQ(UploadFileWriter::uploadName(QString("a\\b\\c.txt"), now), "c.txt");
    EXPECT_EQ(UploadFileWriter::uploadName(QString("bad\nname\x01.txt"), now), "badname.txt");
    EXPECT_EQ(UploadFileWriter::uploadName(QString(".."), now), "received_1700000000");
    EXPECT_EQ(UploadFileWriter::uploadName(QString("dir/"), now), "received_1700000000");
    EXPECT_EQ(UploadFileWriter::uploadName(QString(""), now), "received_1700000000");
    EXPECT_EQ(UploadFileWriter::uploadName(std::nullopt, now), "received_1700000000");
    const QString longName = QString(300, u'x') + ".jpeg";
    const QString reduced = UploadFileWriter::uploadName(longName, now);
    EXPECT_EQ(reduced.toUtf8().size(), 255);
    EXPECT_TRUE(reduced.endsWith(".jpeg"));
}

TEST(UploadFileWriter, SameNameThreeTimesCountsBeforeTheExtension)
{
    QTemporaryDir downloads;
    const QString folder = QDir(downloads.path()).filePath("Quillbay");
    test::clearSyncCalls();
    EXPECT_EQ(upload(downloads.path(), "photo.jpg", "one"), folder + "/photo.jpg");
    // Flushed under its temporary name, then the folder: durable before the phone hears "ok".
    EXPECT_EQ(test::syncCalls().size(), 2);
    EXPECT_TRUE(test::syncCalls()[0].startsWith("fdatasync " + folder + "/.quillbay-upload-"));
    EXPECT_EQ(upload(downloads.path(), "photo.jpg", "two"), folder + "/photo (1).jpg");
    EXPECT_EQ(upload(downloads.path(), "photo.jpg", "three"), folder + "/photo (2).jpg");
    EXPECT_EQ(upload(downloads.path(), "notes", ""), folder + "/notes");
    EXPECT_EQ(upload(downloads.path(), "notes", "x"), folder + "/notes (1)");
    EXPECT_EQ(contents(folder + "/photo.jpg"), "one");
    EXPECT_EQ(contents(folder + "/photo (2).jpg"), "three");
    EXPECT_EQ(contents(folder + "/notes"), "");
    // Nothing but the five files: no temporary file is left over.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 5);
}

TEST(UploadFileWriter, SimultaneousUploadsOfOneNameBothSurvive)
{
    QTemporaryDir downloads;
    constexpr int kWriters = 8;
    std::vector<QString> paths(kWriters);
    std::vector<std::thread> threads;
    for (int i = 0; i < kWriters; ++i) {
        threads.emplace_back(
            [&, i] { paths[i] = upload(downloads.path(), "same.txt", QByteArray::number(i)); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    QSet<QString> distinct;
    for (int i = 0; i < kWriters; ++i) {
        ASSERT_FALSE(paths[i].isEmpty());
        distinct.insert(paths[i]);
        EXPECT_EQ(contents(paths[i]), QByteArray::number(i));
    }
    EXPECT_EQ(distinct.size(), kWriters);
}

TEST(UploadFileWriter, AnUnfinishedUploadLeavesNothingBehind)
{
    QTemporaryDir downloads;
    {
        UploadFileWriter writer(testLog());
        ASSERT_EQ(writer.open(downloads.path(), 1), UploadFileWriter::Error::None);
        ASSERT_TRUE(writer.write("partial", 7));
    }
    const QDir folder(QDir(downloads.path()).filePath("Quillbay"));
    EXPECT_TRUE(folder.exists());
    EXPECT_TRUE(folder.entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(UploadFileWriter, PlainFileNamedQuillbayIsMovedAside)
{
    QTemporaryDir downloads;
    const QString blocker = QDir(downloads.path()).filePath("Quillbay");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old");
    file.close();

    UploadFileWriter writer(testLog());
    ASSERT_EQ(writer.open(downloads.path(), 1700000123), UploadFileWriter::Error::None);
    EXPECT_TRUE(QFileInfo(blocker).isDir());
    EXPECT_EQ(contents(QDir(downloads.path()).filePath("Quillbay (old file 1700000123)")), "old");
}

TEST(UploadFileWriter, FolderThatCannotBeCreatedFails)
{
    QTemporaryDir root;
    // "Downloads" is a plain file, so no folder can be made inside it.
    const QString downloads = QDir(root.path()).filePath("Downloads");
    QFile file(downloads);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    UploadFileWriter writer(testLog());
    EXPECT_NE(writer.open(downloads, 1), UploadFileWriter::Error::None);
}

} // namespace
} // namespace qb
