#include "registry_test_support.h"
#include "wifi/received_files_registry.h"
#include "wifi/sent_files_registry.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>

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
    static QString idText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

    QTemporaryDir m_dir;
    QDateTime m_now = referenceDate(786931200.5);
    QList<ReceivedFile> m_restartedReceived;
    QList<SentFile> m_restartedSent;
};

} // namespace

TEST_F(TransferRecordsTest, NewestUploadComesFirstInMemoryAndInTheFile)
{
    auto registry = make<ReceivedFilesRegistry>();
    QSignalSpy changed(registry.get(), &ReceivedFilesRegistry::filesChanged);
    registry->record(QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/Quillbay/a b.jpg")), 12,
                     QStringLiteral("10.0.0.7"), QStringLiteral("Pixel"));
    m_now = referenceDate(786931201);
    registry->record(QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/Quillbay/ü.txt")), 0,
                     QStringLiteral("fe80::1"), QStringLiteral("Android device"));

    const QList<ReceivedFile> files = registry->files();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(files[0].senderHost, QStringLiteral("fe80::1"));
    EXPECT_NE(files[0].id, files[1].id);
    EXPECT_EQ(
        files[1],
        (ReceivedFile{
            files[1].id, QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/Quillbay/a b.jpg")),
            12, referenceDate(786931200.5), QStringLiteral("10.0.0.7"), QStringLiteral("Pixel")}));
    const QByteArray expected =
        R"([{"bytes":0,"id":")" + idText(files[0].id).toUtf8() +
        R"(","receivedAt":786931201,"senderHost":"fe80::1","senderName":"Android device",)"
        R"("url":"file:///home/u/Downloads/Quillbay/%C3%BC.txt"},)"
        R"({"bytes":12,"id":")" +
        idText(files[1].id).toUtf8() +
        R"(","receivedAt":786931200.5,"senderHost":"10.0.0.7","senderName":"Pixel",)"
        R"("url":"file:///home/u/Downloads/Quillbay/a%20b.jpg"}])";
    EXPECT_EQ(readAll(path("received_files.json")), expected);
    EXPECT_EQ(fileMode(path("received_files.json")), 0600);
    EXPECT_EQ(registry->storeURL(), QUrl::fromLocalFile(path("received_files.json")));
}

TEST_F(TransferRecordsTest, SentRecordsUseTheirOwnFileAndKeys)
{
    auto registry = make<SentFilesRegistry>();
    registry->record(QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf")), 4096,
                     QStringLiteral("10.0.0.8"));
    const SentFile file = registry->files()[0];
    EXPECT_EQ(file, (SentFile{file.id, QUrl::fromLocalFile(QStringLiteral("/tmp/report.pdf")), 4096,
                              m_now, QStringLiteral("10.0.0.8")}));
    EXPECT_EQ(
        readAll(path("sent_files.json")),
        R"([{"bytes":4096,"id":")" + idText(file.id).toUtf8() +
            R"(","recipientHost":"10.0.0.8","sentAt":786931200.5,"url":"file:///tmp/report.pdf"}])");
    EXPECT_EQ(fileMode(path("sent_files.json")), 0600);
    EXPECT_FALSE(QFile::exists(path("received_files.json")));
}

TEST_F(TransferRecordsTest, HistoriesComeBackAfterARestart)
{
    {
        auto received = make<ReceivedFilesRegistry>();
        auto sent = make<SentFilesRegistry>();
        for (int i = 0; i < 3; ++i) {
            m_now =
                QDateTime::currentDateTimeUtc().addMSecs(i); // real times, millisecond precision
            received->record(QUrl::fromLocalFile(QStringLiteral("/d/f%1#?.bin").arg(i)),
                             qint64(1) << (40 + i), QStringLiteral("10.0.0.%1").arg(i),
                             QStringLiteral("Phone \"%1\"").arg(i));
            sent->record(QUrl::fromLocalFile(QStringLiteral("/d/g %1").arg(i)), i,
                         QStringLiteral("10.0.0.%1").arg(i));
        }
        m_restartedReceived = received->files();
        m_restartedSent = sent->files();
    }
    EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), m_restartedReceived);
    EXPECT_EQ(make<SentFilesRegistry>()->files(), m_restartedSent);
}

TEST_F(TransferRecordsTest, HandWrittenFilesLoadInFileOrderIgnoringExtraKeys)
{
    writeAll(path("received_files.json"),
             R"([{"senderName":"Pixel","senderHost":"10.0.0.7","receivedAt":10.25,"bytes":5,)"
             R"("url":"file:///x/a%20b.txt","id":"0a1b2c3d-0000-4000-8000-00000000000f","v":2},)"
             R"({"id":"0A1B2C3D-0000-4000-8000-000000000010","url":"file:///x/c","bytes":0,)"
             R"("receivedAt":-1,"senderHost":"h","senderName":""}])");
    writeAll(
        path("sent_files.json"),
        R"([{"id":"0A1B2C3D-0000-4000-8000-000000000011","url":"file:///x/s","bytes":9007199254740993,)"
        R"("sentAt":0,"recipientHost":"h","newer":[1,2]}])");
    // Written by an older version with the usual mode; the next save keeps it to the user.
    QFile::setPermissions(path("received_files.json"), QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ReadOther);
    auto received = make<ReceivedFilesRegistry>();
    auto sent = make<SentFilesRegistry>();

    ASSERT_EQ(received->files().size(), 2);
    EXPECT_EQ(
        received->files()[0],
        (ReceivedFile{QUuid(QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000F")),
                      QUrl::fromLocalFile(QStringLiteral("/x/a b.txt")), 5, referenceDate(10.25),
                      QStringLiteral("10.0.0.7"), QStringLiteral("Pixel")}));
    EXPECT_EQ(received->files()[1].receivedAt, referenceDate(-1));
    ASSERT_EQ(sent->files().size(), 1);
    EXPECT_EQ(sent->files()[0].bytes, 9007199254740993LL); // beyond a double's exact integers

    // Saving writes the ids upper case and drops the unknown keys.
    received->save();
    EXPECT_EQ(fileMode(path("received_files.json")), 0600);
    EXPECT_TRUE(readAll(path("received_files.json"))
                    .startsWith(R"([{"bytes":5,"id":"0A1B2C3D-0000-4000-8000-00000000000F",)"));
}

TEST_F(TransferRecordsTest, AnUndecodableHistoryLoadsEmptyAndIsSetAsideOnTheFirstRecord)
{
    const QByteArray record =
        R"({"id":"0A1B2C3D-0000-4000-8000-00000000000F","url":"file:///x","bytes":1,)"
        R"("receivedAt":1,"senderHost":"h")";
    const QList<QByteArray> broken{
        "[" + record + "}]",                           // no senderName
        "[" + record + R"(,"senderName":3}])",         // name as a number
        "[" + record + R"(,"senderName":"n"}])" + "x", // trailing garbage
        R"([{"id":"nope","url":"file:///x","bytes":1,"receivedAt":1,"senderHost":"h","senderName":"n"}])",
        R"([{"id":"0A1B2C3D-0000-4000-8000-00000000000F","url":"file:///x","bytes":1.5,)"
        R"("receivedAt":1,"senderHost":"h","senderName":"n"}])",
        R"([{"id":"0A1B2C3D-0000-4000-8000-00000000000F","url":"","bytes":1,)"
        R"("receivedAt":1,"senderHost":"h","senderName":"n"}])",
        R"([null])",
    };
    for (const QByteArray& content : broken) {
        SCOPED_TRACE(content.toStdString());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        writeAll(path("received_files.json"), content);

        auto registry = make<ReceivedFilesRegistry>();
        EXPECT_TRUE(registry->files().isEmpty());
        registry->record(QUrl::fromLocalFile(QStringLiteral("/y")), 2, QStringLiteral("h"),
                         QStringLiteral("n"));
        ASSERT_FALSE(registry->setAsidePath().isEmpty());
        EXPECT_EQ(readAll(registry->setAsidePath()), content);
        EXPECT_EQ(make<ReceivedFilesRegistry>()->files(), registry->files());
    }

    writeAll(
        path("sent_files.json"),
        R"([{"id":"0A1B2C3D-0000-4000-8000-00000000000F","url":"file:///x","bytes":1,"sentAt":1}])");
    auto sent = make<SentFilesRegistry>();
    EXPECT_TRUE(sent->files().isEmpty());
    sent->record(QUrl::fromLocalFile(QStringLiteral("/y")), 2, QStringLiteral("h"));
    EXPECT_TRUE(QFileInfo(sent->setAsidePath())
                    .fileName()
                    .startsWith(QStringLiteral("sent_files.json.unreadable-")));
}

TEST_F(TransferRecordsTest, AFailedWriteKeepsTheRecordUntilTheNextSuccessfulOne)
{
    auto registry = make<SentFilesRegistry>();
    LogCapture log;
    QDir().mkpath(path("sent_files.json"));
    registry->record(QUrl::fromLocalFile(QStringLiteral("/a")), 1, QStringLiteral("h"));
    EXPECT_EQ(registry->files().size(), 1);
    EXPECT_TRUE(log.hasError(QStringLiteral("Could not save")));

    QDir(path("sent_files.json")).removeRecursively();
    registry->record(QUrl::fromLocalFile(QStringLiteral("/b")), 2, QStringLiteral("h"));
    EXPECT_EQ(make<SentFilesRegistry>()->files(), registry->files());
    EXPECT_EQ(registry->files().size(), 2);
}

TEST_F(TransferRecordsTest, RecordsPostedFromConnectionThreadsArriveInPostingOrder)
{
    auto received = make<ReceivedFilesRegistry>();
    auto sent = make<SentFilesRegistry>();
    runOffGuiThread([&] {
        for (int i = 0; i < 20; ++i) {
            received->recordTask(QUrl::fromLocalFile(QStringLiteral("/r%1").arg(i)), i,
                                 QStringLiteral("h"), QStringLiteral("n"));
            sent->recordSentFileOnMainActor(QUrl::fromLocalFile(QStringLiteral("/s%1").arg(i)), i,
                                            QStringLiteral("h"));
        }
    });
    ASSERT_EQ(received->files().size(), 20);
    ASSERT_EQ(sent->files().size(), 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(received->files()[19 - i].bytes, i);
        EXPECT_EQ(sent->files()[19 - i].bytes, i);
    }
    EXPECT_EQ(make<SentFilesRegistry>()->files(), sent->files());
}
