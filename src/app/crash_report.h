#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace qb {

// What a crash report says about the application and the computer.
struct CrashReportFacts
{
    QString appVersion;
    QString buildNumber;
    QString osVersion;  // distribution and kernel
    QString deviceName; // empty when the computer has none
    QDateTime now;
    QString recentLogs; // already formatted lines, may be empty
};

// The plain-text report the support mail attaches.
class CrashReport
{
public:
    // "Quillbay_CrashReport_<seconds since 1970>.txt"
    static QString fileName(const QDateTime& now);
    static QString text(const CrashReportFacts& facts);

    // Writes the report atomically into `folder`, readable by the user only; the file's path,
    // or nothing when it cannot be written.
    static std::optional<QString> write(const QString& folder, const CrashReportFacts& facts);

    // The facts of this process and computer at this moment.
    static CrashReportFacts currentFacts(const QString& recentLogs);

    static QString appVersion(); // the application's version, else "1.0.0"
    static QString buildNumber();
    static QString osVersion();
};

} // namespace qb
