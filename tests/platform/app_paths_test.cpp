#include "platform/app_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace qb;

TEST(AppPaths, FoldersFollowTheUsersDataAndDownloadFolders)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());

    EXPECT_EQ(AppPaths::dataFolder(), home.filePath(QStringLiteral("data/Quillbay")));
    EXPECT_FALSE(QDir(AppPaths::dataFolder()).exists());
    EXPECT_EQ(AppPaths::downloadsFolder(), home.filePath(QStringLiteral("Downloads")));

    // A user-dirs file that moves the Downloads folder is honoured.
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("config"))));
    QFile dirs(home.filePath(QStringLiteral("config/user-dirs.dirs")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n");
    dirs.close();
    EXPECT_EQ(AppPaths::downloadsFolder(), home.filePath(QStringLiteral("Fetched")));
}
