#include "app/crash_report.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace qb {
namespace {

const QDateTime newYear2026(QDate(2026, 1, 1), QTime(0, 0), QTimeZone::utc());

CrashReportFacts facts()
{
    CrashReportFacts facts;
    facts.appVersion = QStringLiteral("0.1.0");
    facts.buildNumber = QStringLiteral("1");
    facts.osVersion = QStringLiteral("Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64");
    facts.deviceName = QStringLiteral("Workbench");
    facts.now = newYear2026;
    return facts;
}

TEST(CrashReportTest, TextIsInUtcAndEndsWithTheLogSection)
{
    CrashReportFacts f = facts();
    f.deviceName.clear();
    f.now = QDateTime(QDate(2026, 1, 1), QTime(2, 30, 5), QTimeZone(2 * 3600));
    f.recentLogs = QStringLiteral("[2026-01-01T00:00:00Z] [MTP] WARNING: disk full");
    EXPECT_EQ(CrashReport::text(f),
              QStringLiteral("Quillbay Crash Report\n=====================\n\nApp Version: 0.1.0\n"
                             "Build: 1\nLinux Version: Debian GNU/Linux 12 (bookworm), kernel "
                             "6.1.0-18-amd64\nDevice: Unknown\nDate: 2026-01-01 00:30:05 +0000\n\n"
                             "Recent Logs:\n[2026-01-01T00:00:00Z] [MTP] WARNING: disk full"));
}

TEST(CrashReportTest, WriteCreatesOnePrivateFileNamedByTheWholeSecond)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CrashReportFacts f = facts();
    f.now = newYear2026.addMSecs(999);
    const std::optional<QString> path = CrashReport::write(dir.path(), f);
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, dir.filePath(QStringLiteral("Quillbay_CrashReport_1767225600.txt")));
    QFile file(*path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), CrashReport::text(f));
    struct stat info
    {};
    ASSERT_EQ(::stat(QFile::encodeName(*path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Nothing but the report is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    EXPECT_FALSE(CrashReport::write(dir.filePath(QStringLiteral("gone")), facts()).has_value());
}

} // namespace
} // namespace qb
