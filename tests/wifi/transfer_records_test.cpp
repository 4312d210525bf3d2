#include "registry_test_support.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace qb;
using namespace qb::test;

namespace {

class TransferRecordsTest : public ::testing::Test
{
protected:
    void SetUp() override { ensureApplication(); }
    template <typename Registry> std::unique_ptr<Registry> make()
    {
        auto registry = std::make_unique<Registry>(m_dir.path());
        registry->setClock([this] { return m_now; });
        return registry;
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    QDateTime m_now = referenceDate(786931200.5);
};

} // namespace

// The server's end-to-end test covers what an upload and a download record.
TEST_F(TransferRecordsTest, NewestComesFirstInTheFileAndHistoriesComeBackAfterARestart)
{
    auto received = make<ReceivedFilesRegistry>();
    auto sent = make<SentFilesRegistry>();
    received->record(QUrl::fromLocalFile("/d/ü b.txt"), 1LL << 40, "fe80::1", "Phone \"1\"");
    sent->record(QUrl::fromLocalFile("/tmp/report.pdf"), 4096, "10.0.0.8");
    const QString id = sent->files()[0].id.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(
        readAll(path("sent_files.json")),
        R"([{"bytes":4096,"id":")" + id.toUtf8() +
            R"(","recipientHost":"10.0.0.8","sentAt":786931200.5,"url":"file:///tmp/report.pdf"}])");
    EXPECT_TRUE(privateToTheUser(path("received_files.json")));
    runOffGuiThread([&] {
        for (int i = 0; i < 20; ++i) {
            m_now = QDateTime::currentDateTimeUtc().addMSecs(i);
            received->recordTask(QUrl::fromLocalFile(QStringLiteral("/r%1#?").arg(i)), i, "h", "n");
            sent->recordSentFileOnMainActor(QUrl::fromLocalFile(QStringLiteral("/s%1").arg(i)), i,
                                            "h");
        }
    });
    ASSERT_EQ(received->files().size(), 21);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(sent->files()[19 - i].bytes, i);
    EXPECT_EQ(received->files()[20].senderName, "Phone \"1\"");
    EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), received->files());
    EXPECT_EQ(make<SentFilesRegistry>()->files(), sent->files());
}

TEST_F(TransferRecordsTest, AnUndecodableHistoryIsSetAsideAndAFailedWriteKeepsTheRecord)
{
    const QByteArray record = R"({"id":"0A1B2C3D-0000-4000-8000-00000000000F","url":"file:///x",)"
                              R"("bytes":1,"receivedAt":1,"senderHost":"h")";
    for (const QByteArray& content :
         {"[" + record + "}]", "[" + record + R"(,"senderName":3}])",
          "[" + record + R"(,"senderName":"n"}])" + "x", QByteArray(R"([null])")}) {
        SCOPED_TRACE(content.toStdString());
        writeAll(path("received_files.json"), content);
        auto registry = make<ReceivedFilesRegistry>();
        EXPECT_TRUE(registry->files().isEmpty());
        registry->record(QUrl::fromLocalFile("/y"), 2, "h", "n");
        EXPECT_TRUE(
            QFileInfo(registry->setAsidePath()).fileName().startsWith("received_files.json.u"));
        EXPECT_EQ(readAll(registry->setAsidePath()), content);
        EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), registry->files());
    }
    // Beyond a double's exact integers, and the bytes as a fraction.
    writeAll(path("sent_files.json"),
             R"([{"id":"0A1B2C3D-0000-4000-8000-000000000011","url":)"
             R"("file:///x","bytes":9007199254740993,"sentAt":0,"recipientHost":"h"}])");
    EXPECT_EQ(make<SentFilesRegistry>()->files().value(0).bytes, 9007199254740993LL);
    writeAll(path("sent_files.json"),
             R"([{"id":"0A1B2C3D-0000-4000-8000-000000000011","url":)"
             R"("file:///x","bytes":1.5,"sentAt":0,"recipientHost":"h"}])");
    EXPECT_TRUE(make<SentFilesRegistry>()->files().isEmpty());

    QFile::remove(path("sent_files.json"));
    auto sent = make<SentFilesRegistry>();
    LogCapture log;
    QDir().mkpath(path("sent_files.json"));
    sent->record(QUrl::fromLocalFile("/a"), 1, "h");
    EXPECT_EQ(sent->files().size(), 1);
    EXPECT_TRUE(log.hasError(QStringLiteral("Could not save")));
    QDir(path("sent_files.json")).removeRecursively();
    sent->record(QUrl::fromLocalFile("/b"), 2, "h");
    EXPECT_EQ(make<SentFilesRegistry>()->files(), sent->files());
}
