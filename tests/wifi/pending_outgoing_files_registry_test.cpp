#include "registry_test_support.h"
#include "wifi/pending_outgoing_files_registry.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;
using namespace std::chrono_literals;

namespace {

class PendingOutgoingFilesRegistryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApplication();
        m_registry.setClock([this] { return m_now; });
        m_registry.setScheduler(
            [this](std::chrono::milliseconds delay, std::function<void()> task) {
                m_scheduled.append({delay, std::move(task)});
            });
        m_file = m_dir.filePath(QStringLiteral("holiday photo.jpg"));
        writeAll(m_file, QByteArray(1234, 'x'));
    }

    QUuid enqueue(const QString& host)
    {
        m_registry.enqueue(QUrl::fromLocalFile(m_file), host);
        return m_registry.files().last().id;
    }

    QTemporaryDir m_dir;
    QString m_file;
    QDateTime m_now = referenceDate(100);
    QList<QPair<std::chrono::milliseconds, std::function<void()>>> m_scheduled;
    PendingOutgoingFilesRegistry m_registry;
};

PendingOutgoingFile sendingFile(qint64 bytes, qint64 sentBytes, std::optional<QDateTime> startedAt)
{
    PendingOutgoingFile file;
    file.bytes = bytes;
    file.sentBytes = sentBytes;
    file.status = SendStatus::Sending;
    file.sendStartedAt = startedAt;
    return file;
}

} // namespace

TEST(PendingOutgoingFileTest, RateAndTimeLeftNeedAQuarterSecondAndAByte)
{
    const QDateTime start = referenceDate(0);
    EXPECT_EQ(sendingFile(1000, 0, std::nullopt).bytesPerSecond(start), 0);
    EXPECT_EQ(sendingFile(1000, 0, std::nullopt).etaSeconds(start), std::nullopt);
    EXPECT_EQ(sendingFile(3000000, 100, start).bytesPerSecond(start.addMSecs(200)), 0);
    EXPECT_EQ(sendingFile(3000000, 100, start).etaSeconds(start.addMSecs(200)), std::nullopt);
    EXPECT_EQ(sendingFile(3000000, 100, start).bytesPerSecond(start.addMSecs(250)), 0);
    EXPECT_EQ(sendingFile(3000000, 0, start).bytesPerSecond(start.addSecs(2)), 0);

    const PendingOutgoingFile halfway = sendingFile(3000000, 1000000, start);
    EXPECT_DOUBLE_EQ(halfway.bytesPerSecond(start.addSecs(2)), 500000);
    EXPECT_DOUBLE_EQ(*halfway.etaSeconds(start.addSecs(2)), 4);

    // The file grew, or its size could not be read: nothing is left to wait for.
    EXPECT_DOUBLE_EQ(*sendingFile(10, 1000000, start).etaSeconds(start.addSecs(2)), 0);
    EXPECT_DOUBLE_EQ(*sendingFile(0, 1000000, start).etaSeconds(start.addSecs(2)), 0);
}

TEST_F(PendingOutgoingFilesRegistryTest, EnqueueOffersTheFileWithItsSize)
{
    QSignalSpy changed(&m_registry, &PendingOutgoingFilesRegistry::filesChanged);
    const QUuid id = enqueue(QStringLiteral("10.0.0.7"));
    m_registry.enqueue(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("gone"))),
                       QStringLiteral("10.0.0.7"));

    ASSERT_EQ(m_registry.files().size(), 2);
    EXPECT_EQ(changed.count(), 2);
    const PendingOutgoingFile file = m_registry.files()[0];
    EXPECT_EQ(file,
              (PendingOutgoingFile{id, QUrl::fromLocalFile(m_file), QStringLiteral("10.0.0.7"),
                                   m_now, 1234, 0, SendStatus::Waiting, std::nullopt}));
    EXPECT_FALSE(id.isNull());
    EXPECT_EQ(m_registry.files()[1].bytes, 0);
    EXPECT_NE(m_registry.files()[1].id, id);
    EXPECT_EQ(file.bytesPerSecond(m_now), 0);
    EXPECT_EQ(file.etaSeconds(m_now), std::nullopt);

    m_registry.setFiles(m_registry.files());
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(PendingOutgoingFilesRegistryTest, EachPhoneSeesAndFetchesOnlyItsOwnFiles)
{
    const QUuid forA = enqueue(QStringLiteral("10.0.0.7"));
    enqueue(QStringLiteral("10.0.0.8"));
    const QString idText = forA.toString(QUuid::WithoutBraces).toUpper();

    const QList<OfferedFile> listA = m_registry.offeredTo(QStringLiteral("10.0.0.7"));
    const QList<OfferedFile> listC = m_registry.offeredTo(QStringLiteral("10.0.0.9"));
    const auto fromA = m_registry.downloadURL(idText, QStringLiteral("10.0.0.7"));
    const auto fromAInLowerCase =
        m_registry.downloadURL(idText.toLower(), QStringLiteral("10.0.0.7"));
    const auto fromB = m_registry.downloadURL(idText, QStringLiteral("10.0.0.8"));
    const auto withBraces = m_registry.downloadURL(forA.toString(), QStringLiteral("10.0.0.7"));
    EXPECT_EQ(listA, (QList<OfferedFile>{{idText, QStringLiteral("holiday photo.jpg"), 1234}}));
    EXPECT_TRUE(listC.isEmpty());
    EXPECT_EQ(fromA, QUrl::fromLocalFile(m_file));
    EXPECT_EQ(fromAInLowerCase, QUrl::fromLocalFile(m_file));
    EXPECT_EQ(fromB, std::nullopt);
    EXPECT_EQ(withBraces, std::nullopt);

    EXPECT_EQ(m_registry.filesFor(QStringLiteral("10.0.0.8")).size(), 1);
    EXPECT_EQ(m_registry.file(idText.toLower())->id, forA);
    EXPECT_EQ(m_registry.file(QStringLiteral("not-a-uuid")), std::nullopt);
    EXPECT_EQ(m_registry.file(QUuid::createUuid().toString(QUuid::WithoutBraces)), std::nullopt);
}

TEST_F(PendingOutgoingFilesRegistryTest, ReportsFromAConnectionThreadApplyInOrder)
{
    const QUuid id = enqueue(QStringLiteral("10.0.0.7"));
    const QString idText = id.toString(QUuid::WithoutBraces);
    const QDateTime started = m_now;

    runOffGuiThread([&] {
        m_registry.markSending(idText);
        m_registry.updateProgress(idText, 100);
        m_registry.updateProgress(idText, 200);
        m_registry.markSending(QStringLiteral("garbage"));
        m_registry.updateProgress(QStringLiteral("garbage"), 999);
    });
    PendingOutgoingFile file = m_registry.files()[0];
    EXPECT_EQ(file.status, SendStatus::Sending);
    EXPECT_EQ(file.sentBytes, 200);
    EXPECT_EQ(file.sendStartedAt, started);

    // A second fetch marks it sending again without resetting the start or the count.
    m_now = referenceDate(200);
    runOffGuiThread([&] { m_registry.markSending(idText); });
    file = m_registry.files()[0];
    EXPECT_EQ(file.sendStartedAt, started);
    EXPECT_EQ(file.sentBytes, 200);

    // Reports for an id that is not queued change nothing.
    m_registry.updateStatus(QUuid::createUuid(), SendStatus::Failed);
    m_registry.updateProgress(QUuid::createUuid(), 5);
    EXPECT_EQ(m_registry.files()[0], file);
}

TEST_F(PendingOutgoingFilesRegistryTest, FinishedEntriesStayVisibleForTheirDelayThenLeave)
{
    const QUuid done = enqueue(QStringLiteral("10.0.0.7"));
    const QUuid broken = enqueue(QStringLiteral("10.0.0.7"));
    runOffGuiThread([&] {
        m_registry.markCompleted(done.toString(QUuid::WithoutBraces));
        m_registry.markFailed(broken.toString(QUuid::WithoutBraces));
        m_registry.markCompleted(QStringLiteral("{") + done.toString(QUuid::WithoutBraces));
    });
    ASSERT_EQ(m_scheduled.size(), 2);
    EXPECT_EQ(m_scheduled[0].first, 1500ms);
    EXPECT_EQ(m_scheduled[1].first, 3000ms);
    EXPECT_EQ(m_registry.files()[0].status, SendStatus::Completed);
    EXPECT_EQ(m_registry.files()[1].status, SendStatus::Failed);

    EXPECT_EQ(m_registry.offeredTo(QStringLiteral("10.0.0.7")).size(), 2);

    m_scheduled[0].second();
    ASSERT_EQ(m_registry.files().size(), 1);
    EXPECT_EQ(m_registry.files()[0].id, broken);
    m_scheduled[1].second();
    EXPECT_TRUE(m_registry.files().isEmpty());
}

TEST_F(PendingOutgoingFilesRegistryTest, CancellingRemovesTheEntryAndTellsTheStreamingFetch)
{
    const QUuid id = enqueue(QStringLiteral("10.0.0.7"));
    const QString idText = id.toString(QUuid::WithoutBraces).toUpper();
    QSignalSpy cancelled(&m_registry, &PendingOutgoingFilesRegistry::cancelledIDsChanged);
    m_registry.cancel(id);
    m_registry.cancel(id);

    EXPECT_TRUE(m_registry.files().isEmpty());
    EXPECT_EQ(m_registry.cancelledIDs(), QSet<QUuid>{id});
    EXPECT_EQ(cancelled.count(), 1);

    // The streaming fetch clears it with the id as the phone sent it; other texts change nothing.
    runOffGuiThread([&] {
        m_registry.clearCancellation(QStringLiteral("x"));
        m_registry.clearCancellation(idText);
    });
    EXPECT_TRUE(m_registry.cancelledIDs().isEmpty());
    EXPECT_EQ(cancelled.count(), 2);
}

TEST(PendingOutgoingFilesRegistryTimerTest, ACompletedEntryLeavesByItself)
{
    ensureApplication();
    QTemporaryDir dir;
    PendingOutgoingFilesRegistry registry;
    registry.enqueue(QUrl::fromLocalFile(dir.filePath(QStringLiteral("a"))), QStringLiteral("h"));
    const QUuid id = registry.files()[0].id;
    registry.markCompleted(id.toString(QUuid::WithoutBraces));
    QSignalSpy changed(&registry, &PendingOutgoingFilesRegistry::filesChanged);
    ASSERT_TRUE(changed.wait(5000)); // the posted status change
    EXPECT_EQ(registry.files()[0].status, SendStatus::Completed);
    ASSERT_TRUE(changed.wait(10000)); // the removal
    EXPECT_TRUE(registry.files().isEmpty());
}
