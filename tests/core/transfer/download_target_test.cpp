#include "core/transfer/download_target.h"

#include "core/transfer/transfer_job.h"

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

TEST(DownloadTarget, SafeNamesNeverAddressAFolderAndFreeNamesCountUpBeforeTheExtension)
{
    const std::pair<QString, QString> names[] = {{"a:b?.txt", "a_b_.txt"},
                                                 {R"(/\:*?"<>|)", "_________"},
                                                 {"Ünïcode .jpg", "Ünïcode .jpg"},
                                                 {"../../etc/passwd", ".._.._etc_passwd"},
                                                 {"", "Untitled"},
                                                 {".", "Untitled"},
                                                 {"..", "Untitled"},
                                                 {"...", "..."}};
    for (const auto& [name, safe] : names)
        EXPECT_EQ(DownloadTarget::safeLocalName(name), safe) << name.toStdString();

    QTemporaryDir dir;
    const std::pair<QString, QString> taken[] = {{"photo.jpg", "photo (1).jpg"},
                                                 {"photo (1).jpg", "photo (2).jpg"},
                                                 {"notes", "notes (1)"},
                                                 {"archive.tar.gz", "archive.tar (1).gz"},
                                                 {".profile", ".profile (1)"}};
    EXPECT_EQ(DownloadTarget::uniqueDestination(dir.filePath("a.jpg")), dir.filePath("a.jpg"));
    for (const auto& [name, free] : taken) {
        writeFile(dir.filePath(name), "x");
        const QString wanted = dir.filePath(name.startsWith("photo") ? "photo.jpg" : name);
        EXPECT_EQ(DownloadTarget::uniqueDestination(wanted), dir.filePath(free));
    }
}

// Guards against a half-written file replacing a whole one, a download replacing a folder,
// crash leftovers piling up (nothing but old leftovers may ever be removed) and hostile names
// leaving the folder.
TEST(DownloadTarget, OverwritesOnlyWholeFilesAndStaysInsideTheFolder)
{
    QTemporaryDir dir;
    for (const QString name :
         {".quillbay-new.part", ".quillbay-old.part", ".quillbay-.txt", "o.part"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        if (!name.contains("new"))
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
    EXPECT_EQ(entries(dir.path()),
              QStringList({".quillbay-.txt", ".quillbay-new.part", "o.part", "photo.jpg"}));

    ASSERT_TRUE(QDir(dir.path()).mkpath("photos"));
    DownloadTarget folder(dir.path(), "photos", OverwriteRule::Overwrite);
    ASSERT_TRUE(folder.prepare());
    writeFile(folder.temporaryPath(), "file");
    ASSERT_TRUE(folder.commit());
    EXPECT_EQ(folder.finalPath(), dir.filePath("photos (1)"));
    EXPECT_TRUE(QFileInfo(dir.filePath("photos")).isDir());

    const QString inbox = dir.filePath("inbox");
    for (const QString& name : {QStringLiteral(".."), QStringLiteral("../escape"), QString()}) {
        DownloadTarget hostile(inbox, name, OverwriteRule::Ask);
        ASSERT_TRUE(hostile.prepare());
        writeFile(hostile.temporaryPath(), "x");
        ASSERT_TRUE(hostile.commit());
    }
    EXPECT_EQ(entries(inbox), QStringList({".._escape", "Untitled", "Untitled (1)"}));
    EXPECT_EQ(entries(dir.path()).size(), 7) << "nothing escaped the inbox";
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
