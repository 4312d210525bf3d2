#include "core/transfer/transfer_job.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

using namespace qb;

TEST(TransferJob, OnlyCompletedFailedAndCanceledAreFinished)
{
    for (TransferStatus status : allTransferStatuses()) {
        const bool finished = status == TransferStatus::Completed ||
                              status == TransferStatus::Failed ||
                              status == TransferStatus::Canceled;
        EXPECT_EQ(isFinished(status), finished) << toText(status).toStdString();
    }
}

TEST(TransferJob, EndpointsOfDifferentKindsNeverMatch)
{
    const auto phone = TransferEndpoint::android("dev", "1/2", "a.jpg");
    const auto mac = TransferEndpoint::local(QUrl::fromLocalFile("/tmp/a.jpg"));
    // A local endpoint never equals an android one, even when leftover fields match.
    TransferEndpoint odd = phone;
    odd.kind = TransferEndpoint::Kind::Local;
    EXPECT_NE(odd, phone);
    EXPECT_NE(phone, TransferEndpoint::android("dev", "1/3", "a.jpg"));
    EXPECT_EQ((QSet<TransferEndpoint>{phone, mac, TransferEndpoint::android("dev", "1/2", "a.jpg")}
                   .size()),
              2);
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
