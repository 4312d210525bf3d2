#include "platform/logger.h"
#include "support/test_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace qb;

TEST(LoggerTest, PrivateValuesAreHiddenUnlessTheDebugVariableIsSet)
{
    test::LogCapture capture;
    qunsetenv("QB_LOG_PRIVATE");
    const QStringList values{QStringLiteral("IMG_1.jpg"), QStringLiteral("65537/12")};
    Logger::mtp().info(QStringLiteral("download %1 from %2"), values);
    // The Wi-Fi loggers that are made to show their values do.
    Logger(QStringLiteral("WiFiAdvertiser.Conn"), true).info(QStringLiteral("%1 sent"), {"a"});
    qputenv("QB_LOG_PRIVATE", "1");
    Logger::mtp().info(QStringLiteral("download %1 from %2"), values);
    qputenv("QB_LOG_PRIVATE", "yes");
    Logger::transfer().warning(QStringLiteral("job %1"), values);
    EXPECT_EQ(capture.lines(), (QStringList{"download <private> from <private>", "a sent",
                                            "download IMG_1.jpg from 65537/12", "job <private>"}));
}

TEST(LogMessageFormat, SubstitutesEachPlaceholderOnce)
{
    // A value that itself looks like a placeholder must not be expanded again.
    EXPECT_EQ(formatLogMessage(QStringLiteral("%1 and %2"), {QStringLiteral("%2"), "b"}),
              QStringLiteral("%2 and b"));
    EXPECT_EQ(formatLogMessage(QStringLiteral("%2-%1-%2"), {"a", "b"}), QStringLiteral("b-a-b"));
    EXPECT_EQ(formatLogMessage(QStringLiteral("%1 of %3"), {"a"}), QStringLiteral("a of %3"));
    EXPECT_EQ(formatLogMessage(QStringLiteral("100% done, %"), {}), QStringLiteral("100% done, %"));
    QStringList eleven;
    for (int i = 1; i <= 11; ++i)
        eleven << QString::number(i * 10);
    EXPECT_EQ(formatLogMessage(QStringLiteral("%11/%1"), eleven), QStringLiteral("110/10"));
}

TEST(LoggerTest, CanBeUsedFromSeveralThreads)
{
    test::LogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const Logger logger = t % 2 ? Logger::mtp() : Logger::transfer();
            for (int i = 0; i < 50; ++i)
                logger.info(QStringLiteral("n %1"), {QString::number(i)});
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(capture.records().size(), 200);
}

TEST(LoggerTest, OnlyASocketCountsAsARunningJournal)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    EXPECT_FALSE(journalSocketExists(folder.filePath(QStringLiteral("no-socket"))));
    QFile plain(folder.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    EXPECT_FALSE(journalSocketExists(plain.fileName()));
    EXPECT_FALSE(journalSocketExists(folder.path()));

    const QByteArray socketPath = QFile::encodeName(folder.filePath(QStringLiteral("socket")));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(socketPath.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_TRUE(journalSocketExists(QFile::decodeName(socketPath)));
    ::close(fd);
}
