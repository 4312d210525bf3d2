#include "core/transfer/transfer_job.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

using namespace qb;

TEST(TransferJob, EndpointsOfDifferentKindsNeverMatchAndOnlyLocalFilesHaveASize)
{
    const auto phone = TransferEndpoint::android("dev", "1/2", "a.jpg");
    TransferEndpoint odd = phone; // a local endpoint whose leftover fields match
    odd.kind = TransferEndpoint::Kind::Local;
    EXPECT_NE(odd, phone);
    EXPECT_EQ((QSet<TransferEndpoint>{phone, odd, TransferEndpoint::android("dev", "1/2", "a.jpg")}
                   .size()),
              2);

    QTemporaryDir dir;
    QFile file(dir.filePath("five.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("12345");
    file.close();
    EXPECT_EQ(fileSize(QUrl::fromLocalFile(file.fileName())), 5);
    EXPECT_FALSE(fileSize(QUrl::fromLocalFile(dir.filePath("missing.bin"))));
    EXPECT_FALSE(fileSize(QUrl("https://example.invalid/a.bin")));
}
