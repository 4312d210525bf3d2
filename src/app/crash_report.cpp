#include "app/crash_report.h"

#include "app/app_version.h"

#include "platform/host_name.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QSysInfo>

namespace qb {

QString CrashReport::fileName(const QDateTime& now)
{
    return QStringLiteral("Quillbay_CrashReport_%1.txt").arg(now.toSecsSinceEpoch());
}

QString CrashReport::text(const CrashReportFacts& facts)
{
    const QString device =
        facts.deviceName.isEmpty() ? QStringLiteral("Unknown") : facts.deviceName;
    const QString date = facts.now.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                         QStringLiteral(" +0000");
    QString text;
    text += QStringLiteral("Quillbay Crash Report\n");
    text += QStringLiteral("=====================\n");
    text += QStringLiteral("\n");
    text += QStringLiteral("App Version: ") + facts.appVersion + QStringLiteral("\n");
    text += QStringLiteral("Build: ") + facts.buildNumber + QStringLiteral("\n");
    text += QStringLiteral("Linux Version: ") + facts.osVersion + QStringLiteral("\n");
    text += QStringLiteral("Device: ") + device + QStringLiteral("\n");
    text += QStringLiteral("Date: ") + date + QStringLiteral("\n");
    text += QStringLiteral("\n");
    text += QStringLiteral("Recent Logs:\n");
    text += facts.recentLogs;
    return text;
}

std::optional<QString> CrashReport::write(const QString& folder, const CrashReportFacts& facts)
{
    const QString path = QDir(folder).filePath(fileName(facts.now));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::nullopt;
    // The report names the computer; other local users have no business reading it.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return std::nullopt;
    const QByteArray bytes = text(facts).toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return std::nullopt;
    return path;
}

CrashReportFacts CrashReport::currentFacts(const QString& recentLogs)
{
    CrashReportFacts facts;
    facts.appVersion = appVersion();
    facts.buildNumber = buildNumber();
    facts.osVersion = osVersion();
    facts.deviceName = localizedHostName();
    facts.now = QDateTime::currentDateTimeUtc();
    facts.recentLogs = recentLogs;
    return facts;
}

QString CrashReport::appVersion()
{
    return AppVersion::version();
}

QString CrashReport::buildNumber()
{
    return AppVersion::build();
}

QString CrashReport::osVersion()
{
    return QSysInfo::prettyProductName() + QStringLiteral(", kernel ") + QSysInfo::kernelVersion();
}

} // namespace qb
