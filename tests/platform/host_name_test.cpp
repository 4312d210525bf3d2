#include "platform/host_name.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qb {
namespace {

QString writeMachineInfo(const QTemporaryDir& dir, const QByteArray& content)
{
    const QString path = dir.filePath(QStringLiteral("machine-info"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return path;
}

TEST(HostNameTest, PrefersThePrettyHostName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(localizedHostName(writeMachineInfo(
                  dir, "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's Laptop\"\nICON_NAME=computer\n")),
              QStringLiteral("Ada's Laptop"));
    EXPECT_EQ(localizedHostName(writeMachineInfo(dir, "PRETTY_HOSTNAME=Workbench\n")),
              QStringLiteral("Workbench"));
}

TEST(HostNameTest, FallsBackToTheNetworkHostName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString expected = QSysInfo::machineHostName().trimmed();
    EXPECT_EQ(localizedHostName(dir.filePath(QStringLiteral("absent"))), expected);
    EXPECT_EQ(localizedHostName(writeMachineInfo(dir, "CHASSIS=desktop\n")), expected);
    EXPECT_EQ(localizedHostName(writeMachineInfo(dir, "PRETTY_HOSTNAME=\"\"\n")), expected);
}

} // namespace
} // namespace qb
