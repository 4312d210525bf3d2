#include "platform/host_name.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qb {
namespace {

TEST(HostNameTest, PrefersThePrettyHostNameThenTheNetworkName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("machine-info"));
    const QString network = QSysInfo::machineHostName().trimmed();
    EXPECT_EQ(localizedHostName(path), network); // no file at all
    const std::pair<QByteArray, QString> cases[] = {
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's Laptop\"\nICON_NAME=computer\n", "Ada's Laptop"},
        {"PRETTY_HOSTNAME=Workbench\n", "Workbench"},
        {"CHASSIS=desktop\n", network},
        {"PRETTY_HOSTNAME=\"\"\n", network},
    };
    for (const auto& [content, expected] : cases) {
        SCOPED_TRACE(content.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        EXPECT_EQ(localizedHostName(path), expected);
    }
}

} // namespace
} // namespace qb
