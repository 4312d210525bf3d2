#include "platform/logger.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace qb;

namespace {

// Captures every record for the life of the fixture and restores the default sink afterwards.
class LoggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qunsetenv("QB_LOG_PRIVATE");
        Logger::setSink([this](const LogRecord& r) {
            std::lock_guard lock(m_mutex);
            m_records.append(r);
        });
    }
    void TearDown() override
    {
        Logger::setSink({});
        qunsetenv("QB_LOG_PRIVATE");
    }
    QList<LogRecord> records()
    {
        std::lock_guard lock(m_mutex);
        return m_records;
    }

    std::mutex m_mutex;
    QList<LogRecord> m_records;
};

} // namespace

TEST_F(LoggerTest, LoggersCarryTheirCategoryAndLevel)
{
    Logger::mtp().warning(QStringLiteral("open failed"));
    Logger::transfer().error(QStringLiteral("job failed"));
    makeAppLogger(QStringLiteral("Other")).debug(QStringLiteral("x"));
    // The Wi-Fi loggers show their values.
    Logger(QStringLiteral("WiFiAdvertiser.Conn"), true)
        .info(QStringLiteral("%1 sent %2 bytes"), {QStringLiteral("192.168.1.7"), "12"});

    const auto got = records();
    ASSERT_EQ(got.size(), 4);
    const std::tuple<const char*, LogLevel, const char*> expected[] = {
        {"MTP", LogLevel::Warning, "open failed"},
        {"Transfer", LogLevel::Error, "job failed"},
        {"Other", LogLevel::Debug, "x"},
        {"WiFiAdvertiser.Conn", LogLevel::Info, "192.168.1.7 sent 12 bytes"}};
    for (int i = 0; i < 4; ++i) {
        const auto& [category, level, message] = expected[i];
        SCOPED_TRACE(category);
        EXPECT_EQ(got[i].subsystem, QStringLiteral("com.halvorin.quillbay"));
        EXPECT_EQ(got[i].category, QString::fromUtf8(category));
        EXPECT_EQ(got[i].level, level);
        EXPECT_EQ(got[i].message, QString::fromUtf8(message));
    }
}

TEST_F(LoggerTest, PrivateValuesAreHiddenUnlessTheDebugVariableIsSet)
{
    const QStringList values{QStringLiteral("IMG_1.jpg"), QStringLiteral("65537/12")};
    Logger::mtp().info(QStringLiteral("download %1 from %2"), values);
    Logger::transfer().info(QStringLiteral("job %1"), {QStringLiteral("abc")});
    qputenv("QB_LOG_PRIVATE", "1");
    Logger::mtp().info(QStringLiteral("download %1 from %2"), values);
    qputenv("QB_LOG_PRIVATE", "yes");
    Logger::mtp().info(QStringLiteral("download %1"), values);

    const auto got = records();
    ASSERT_EQ(got.size(), 4);
    EXPECT_EQ(got[0].message, QStringLiteral("download <private> from <private>"));
    EXPECT_EQ(got[1].message, QStringLiteral("job <private>"));
    EXPECT_EQ(got[2].message, QStringLiteral("download IMG_1.jpg from 65537/12"));
    EXPECT_EQ(got[3].message, QStringLiteral("download <private>"));
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

TEST_F(LoggerTest, CanBeUsedFromSeveralThreads)
{
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
    EXPECT_EQ(records().size(), 200);
}
