#include "core/transfer/transfer_job.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QVariant>

using namespace qb;

TEST(TransferJob, TypesHaveTheirTextValuesInOrder)
{
    const QStringList texts{"upload", "download", "move", "copy", "delete", "createFolder"};
    const auto all = allTransferTypes();
    ASSERT_EQ(all.size(), texts.size());
    for (qsizetype i = 0; i < all.size(); ++i) {
        EXPECT_EQ(toText(all[i]), texts[i]);
        EXPECT_EQ(transferTypeFromText(texts[i]), all[i]);
    }
    EXPECT_EQ(transferTypeFromText("createFolder"), TransferType::CreateFolder);
    for (const char* bad : {"CreateFolder", "createfolder", "Upload", " copy", ""})
        EXPECT_FALSE(transferTypeFromText(QString::fromUtf8(bad))) << bad;
}

TEST(TransferJob, StatusesAndTheFinishedStates)
{
    const QStringList texts{"queued", "running", "paused", "completed", "failed", "canceled"};
    const auto all = allTransferStatuses();
    ASSERT_EQ(all.size(), texts.size());
    for (qsizetype i = 0; i < all.size(); ++i) {
        EXPECT_EQ(toText(all[i]), texts[i]);
        EXPECT_EQ(transferStatusFromText(texts[i]), all[i]);
        EXPECT_EQ(isFinished(all[i]), i >= 3) << texts[i].toStdString();
    }
    EXPECT_FALSE(isFinished(TransferStatus::Paused));
    EXPECT_FALSE(transferStatusFromText("cancelled"));
    EXPECT_FALSE(transferStatusFromText("Queued"));
}

TEST(TransferJob, EndpointsCompareKindAndEveryField)
{
    const auto phone = TransferEndpoint::android("dev", "1/2", "a.jpg");
    EXPECT_EQ(phone, TransferEndpoint::android("dev", "1/2", "a.jpg"));
    EXPECT_NE(phone, TransferEndpoint::android("dev", "1/2", "b.jpg"));
    EXPECT_NE(phone, TransferEndpoint::android("other", "1/2", "a.jpg"));
    EXPECT_NE(phone, TransferEndpoint::android("dev", "1/3", "a.jpg"));

    const auto mac = TransferEndpoint::local(QUrl::fromLocalFile("/tmp/a.jpg"));
    EXPECT_EQ(mac, TransferEndpoint::local(QUrl::fromLocalFile("/tmp/a.jpg")));
    EXPECT_NE(mac, TransferEndpoint::local(QUrl::fromLocalFile("/tmp/b.jpg")));
    EXPECT_NE(phone, mac);
    // A local endpoint never equals an android one, even when leftover fields match.
    TransferEndpoint odd = phone;
    odd.kind = TransferEndpoint::Kind::Local;
    EXPECT_NE(odd, phone);

    EXPECT_EQ(qHash(phone), qHash(TransferEndpoint::android("dev", "1/2", "a.jpg")));
    EXPECT_EQ((QSet<TransferEndpoint>{phone, mac, TransferEndpoint::android("dev", "1/2", "a.jpg")}
                   .size()),
              2);
}

TEST(TransferJob, NewJobsStartQueuedAndEmpty)
{
    const auto before = QDateTime::currentDateTimeUtc();
    const TransferJob job =
        TransferJob::make(TransferType::Download, TransferEndpoint::android("d", "1/5", "x"),
                          TransferEndpoint::local(QUrl::fromLocalFile("/tmp")), 99);
    const TransferJob other =
        TransferJob::make(TransferType::Delete, TransferEndpoint::android("d", "1/5", "x"),
                          TransferEndpoint::android("d", "1/5", "x"));

    EXPECT_FALSE(job.id.isNull());
    EXPECT_NE(job.id, other.id);
    EXPECT_EQ(job.type, TransferType::Download);
    EXPECT_EQ(job.status, TransferStatus::Queued);
    EXPECT_EQ(job.progress, 0.0);
    EXPECT_EQ(job.bytesTransferred, 0);
    EXPECT_EQ(job.totalBytes, 99);
    EXPECT_EQ(other.totalBytes, 0);
    EXPECT_FALSE(job.error);
    EXPECT_EQ(job.retryCount, 0);
    EXPECT_FALSE(job.transferSpeed);
    EXPECT_GE(job.createdAt, before);
    EXPECT_LE(job.createdAt, QDateTime::currentDateTimeUtc());

    // Jobs travel in queued signals, so they must survive a QVariant round trip.
    const auto back = QVariant::fromValue(QList<TransferJob>{job}).value<QList<TransferJob>>();
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back[0].id, job.id);
}

TEST(TransferJob, ErrorsCarryTheirMessage)
{
    try {
        throw TransferError{QStringLiteral("No repository provider set")};
    } catch (const TransferError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("No repository provider set"));
        EXPECT_EQ(e.localizedMessage, e.message());
    }
}

TEST(TransferJob, FileSizeOfLocalFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile f(dir.filePath("five.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("12345");
    f.close();
    QFile empty(dir.filePath("empty.bin"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();

    EXPECT_EQ(fileSize(QUrl::fromLocalFile(f.fileName())), 5);
    EXPECT_EQ(fileSize(QUrl::fromLocalFile(empty.fileName())), 0);
    EXPECT_FALSE(fileSize(QUrl::fromLocalFile(dir.filePath("missing.bin"))));
    EXPECT_FALSE(fileSize(QUrl("https://example.invalid/a.bin")));
    EXPECT_FALSE(fileSize(QUrl()));
}
