#include "platform/local_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace qb;

TEST(LocalFiles, LongNamesAreShortenedAtACharacterBoundaryKeepingTheExtension)
{
    const QString accented = QString(150, QChar(0xE9)); // 300 bytes of UTF-8
    const QString emoji = QString::fromUtf8("\xF0\x9F\x93\xB7").repeated(70);
    const struct
    {
        QString name;
        QString extension;
    } cases[] = {{accented + ".jpeg", ".jpeg"}, {emoji + ".mp4", ".mp4"}, {accented, ""}};
    for (const auto& c : cases) {
        const QString shortened = LocalFiles::shortenedName(c.name);
        EXPECT_LE(shortened.toUtf8().size(), 255);
        EXPECT_GE(shortened.toUtf8().size(), 250); // no more is cut than needed
        EXPECT_TRUE(shortened.endsWith(c.extension));
        EXPECT_EQ(shortened.toUtf8(), QString::fromUtf8(shortened.toUtf8()).toUtf8());
        EXPECT_FALSE(shortened.back().isHighSurrogate());
        const auto [base, extension] = LocalFiles::splitExtension(shortened);
        const QString numbered = LocalFiles::numberedName(base, extension, 12);
        EXPECT_LE(numbered.toUtf8().size(), 255);
        EXPECT_TRUE(numbered.endsWith(" (12)" + c.extension));
    }
    EXPECT_EQ(LocalFiles::shortenedName("photo.jpg"), "photo.jpg");
    EXPECT_EQ(LocalFiles::numberedName("notes", "", 1), "notes (1)");
}

TEST(LocalFiles, TemporaryFoldersLiveInTheCacheFolderAndLeaveNothingBehind)
{
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
    QString path;
    {
        const LocalFiles::TemporaryFolder first;
        const LocalFiles::TemporaryFolder second;
        ASSERT_TRUE(first.isValid());
        path = first.path();
        EXPECT_TRUE(path.startsWith(home.filePath("cache/")));
        EXPECT_NE(path, second.path());
        QFile file(first.filePath("copy.bin"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(QDir(path).exists());
    qunsetenv("XDG_CACHE_HOME");
}
