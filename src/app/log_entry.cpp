#include "app/log_entry.h"

namespace qb {

QString LogEntry::text(Level level)
{
    switch (level) {
    case Level::Debug:
        return QStringLiteral("debug");
    case Level::Info:
        return QStringLiteral("info");
    case Level::Warning:
        return QStringLiteral("warning");
    case Level::Error:
        return QStringLiteral("error");
    }
    return {};
}

std::optional<LogEntry::Level> LogEntry::levelFromText(const QString& text)
{
    for (Level level : {Level::Debug, Level::Info, Level::Warning, Level::Error}) {
        if (LogEntry::text(level) == text)
            return level;
    }
    return std::nullopt;
}

QString LogEntry::formattedLine() const
{
    // UTC with whole seconds and a "Z" suffix, whatever zone the timestamp was made in.
    QDateTime utc = timestamp.toUTC();
    utc.setTime(QTime(utc.time().hour(), utc.time().minute(), utc.time().second()));
    return QStringLiteral("[") + utc.toString(Qt::ISODate) + QStringLiteral("] [") + category +
           QStringLiteral("] ") + text(level).toUpper() + QStringLiteral(": ") + message;
}

} // namespace qb
