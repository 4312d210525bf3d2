#include "wifi/upload_file_writer.h"

#include "platform/sync_spy.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace qb {
namespace {

const Logger kLog(QStringLiteral("WiFiAdvertiser.Conn"), true);

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes `bytes` as one upload named `name`; the final path.
QString upload(const QString& downloads, const QString& name, const QByteArray& bytes)
{
    UploadFileWriter writer(kLog);
    EXPECT_EQ(writer.open(downloads, 1700000000), UploadFileWriter::Error::None);
    EXPECT_TRUE(writer.write(bytes.constData(), bytes.size()));
    return writer.commit(name).value_or(QString());
}

// Numbering of same names and "../" are checked over the wire by the server test.
TEST(UploadFileWriter, NamesAreReducedToOneSafeComponent)
{
    const QList<std::pair<QString, QString>> names{{"/etc/passwd", "passwd"},
                                                   {"a\\b\\c.txt", "c.txt"},
                                                   {"bad\nname\x01.txt", "badname.txt"},
                                                   {"..", "received_1700000000"},
                                                   {"dir/", "received_1700000000"},
                                                   {"", "received_1700000000"}};
    for (const auto& [name, reduced] : names)
        EXPECT_EQ(UploadFileWriter::uploadName(name, 1700000000), reduced);
    EXPECT_EQ(UploadFileWriter::uploadName(std::nullopt, 1700000000), "received_1700000000");
    const QString reduced = UploadFileWriter::uploadName(QString(300, u'x') + ".jpeg", 1);
    EXPECT_EQ(reduced.toUtf8().size(), 255);
    EXPECT_TRUE(reduced.endsWith(".jpeg"));
}

TEST(UploadFileWriter, UploadsAreDurableSimultaneousOnesOfOneNameSurviveAndNoneIsLeftHalfWritten)
{
    QTemporaryDir downloads;
    const QString folder = QDir(downloads.path()).filePath("Quillbay");
    test::clearSyncCalls();
    EXPECT_EQ(upload(downloads.path(), "notes", ""), folder + "/notes");
    // Flushed under its temporary name, then the folder: durable before the phone hears "ok".
    EXPECT_EQ(test::syncCalls().size(), 2);
    EXPECT_TRUE(test::syncCalls()[0].startsWith("fdatasync " + folder + "/.quillbay-upload-"));
    EXPECT_EQ(upload(downloads.path(), "notes", "x"), folder + "/notes (1)");

    std::vector<QString> paths(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back(
            [&, i] { paths[i] = upload(downloads.path(), "same", QByteArray::number(i)); });
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(contents(paths[i]), QByteArray::number(i));
    {
        UploadFileWriter unfinished(kLog);
        ASSERT_EQ(unfinished.open(downloads.path(), 1), UploadFileWriter::Error::None);
        ASSERT_TRUE(unfinished.write("partial", 7));
    }
    // Nothing but the ten files: no temporary file is left over.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 10);
}

TEST(UploadFileWriter, APlainFileNamedQuillbayIsMovedAsideAndAnUnusableFolderFails)
{
    QTemporaryDir downloads;
    const QString blocker = QDir(downloads.path()).filePath("Quillbay");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
    file.close();
    UploadFileWriter writer(kLog);
    ASSERT_EQ(writer.open(downloads.path(), 1700000123), UploadFileWriter::Error::None);
    EXPECT_TRUE(QFileInfo(blocker).isDir());
    EXPECT_EQ(contents(QDir(downloads.path()).filePath("Quillbay (old file 1700000123)")), "old");
    // "old" is a plain file, so no folder can be made inside it.
    UploadFileWriter failing(kLog);
    EXPECT_NE(failing.open(QDir(downloads.path()).filePath("Quillbay (old file 1700000123)"), 1),
              UploadFileWriter::Error::None);
}

} // namespace
} // namespace qb
