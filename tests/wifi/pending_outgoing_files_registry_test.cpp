#include "registry_test_support.h"
#include "wifi/pending_outgoing_files_registry.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

TEST(PendingOutgoingFileTest, RateAndTimeLeftNeedAQuarterSecondAndAByte)
{
    const QDateTime start = referenceDate(0);
    auto file = [&](qint64 bytes, qint64 sentBytes, bool started) {
        PendingOutgoingFile file;
        file.bytes = bytes;
        file.sentBytes = sentBytes;
        file.status = SendStatus::Sending;
        file.sendStartedAt = started ? std::optional(start) : std::nullopt;
        return file;
    };
    EXPECT_EQ(file(1000, 0, false).etaSeconds(start), std::nullopt);
    EXPECT_EQ(file(3000000, 100, true).etaSeconds(start.addMSecs(200)), std::nullopt);
    EXPECT_EQ(file(3000000, 100, true).bytesPerSecond(start.addMSecs(250)), 0);
    EXPECT_EQ(file(3000000, 0, true).bytesPerSecond(start.addSecs(2)), 0);
    EXPECT_DOUBLE_EQ(file(3000000, 1000000, true).bytesPerSecond(start.addSecs(2)), 500000);
    EXPECT_DOUBLE_EQ(*file(3000000, 1000000, true).etaSeconds(start.addSecs(2)), 4);
    // The file grew, or its size could not be read: nothing is left to wait for.
    EXPECT_DOUBLE_EQ(*file(10, 1000000, true).etaSeconds(start.addSecs(2)), 0);
}

// The server's end-to-end tests cover offering, fetching and cancelling through the registry.
TEST(PendingOutgoingFilesRegistryTest, ReportsApplyInOrderAndFinishedEntriesLeaveAfterTheirDelay)
{
    ensureApplication();
    QTemporaryDir dir;
    QList<QPair<std::chrono::milliseconds, std::function<void()>>> scheduled;
    PendingOutgoingFilesRegistry registry;
    registry.setClock([] { return referenceDate(100); });
    registry.setScheduler([&](std::chrono::milliseconds delay, std::function<void()> task) {
        scheduled.append({delay, std::move(task)});
    });
    writeAll(dir.filePath("a b"), QByteArray(1234, 'x'));
    registry.enqueue(QUrl::fromLocalFile(dir.filePath("a b")), "10.0.0.7");
    registry.enqueue(QUrl::fromLocalFile(dir.filePath("gone")), "10.0.0.7");
    const QString done = registry.files()[0].id.toString(QUuid::WithoutBraces);
    const QString broken = registry.files()[1].id.toString(QUuid::WithoutBraces);
    EXPECT_EQ(registry.offeredTo("10.0.0.7"),
              (QList<OfferedFile>{{done.toUpper(), "a b", 1234}, {broken.toUpper(), "gone", 0}}));
    EXPECT_EQ(registry.downloadURL("{" + done + "}", "10.0.0.7"), std::nullopt);

    runOffGuiThread([&] {
        registry.markSending(done);
        registry.updateProgress(done, 100);
        registry.updateProgress(done, 200);
        registry.markSending(done); // a second fetch resets neither the start nor the count
        registry.updateProgress("garbage", 999);
        registry.markCompleted(done);
        registry.markFailed(broken);
        registry.markCompleted("{" + done);
    });
    EXPECT_EQ(registry.files()[0].sentBytes, 200);
    EXPECT_EQ(registry.files()[0].sendStartedAt, referenceDate(100));
    EXPECT_EQ(registry.files()[0].status, SendStatus::Completed);
    EXPECT_EQ(registry.files()[1].status, SendStatus::Failed);
    ASSERT_EQ(scheduled.size(), 2);
    EXPECT_EQ(scheduled[0].first, 1500ms);
    EXPECT_EQ(scheduled[1].first, 3000ms);
    scheduled[0].second();
    ASSERT_EQ(registry.files().size(), 1);
    EXPECT_EQ(registry.files()[0].id.toString(QUuid::WithoutBraces), broken);
    scheduled[1].second();
    EXPECT_TRUE(registry.files().isEmpty());
}

TEST(PendingOutgoingFilesRegistryTest, ACompletedEntryLeavesByItself)
{
    ensureApplication();
    PendingOutgoingFilesRegistry registry;
    registry.enqueue(QUrl::fromLocalFile("/nonexistent/a"), QStringLiteral("h"));
    registry.markCompleted(registry.files()[0].id.toString(QUuid::WithoutBraces));
    QSignalSpy changed(&registry, &PendingOutgoingFilesRegistry::filesChanged);
    ASSERT_TRUE(changed.wait(5000)); // the posted status change
    EXPECT_EQ(registry.files()[0].status, SendStatus::Completed);
    ASSERT_TRUE(changed.wait(10000)); // the removal
    EXPECT_TRUE(registry.files().isEmpty());
}
