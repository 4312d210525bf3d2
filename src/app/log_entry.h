#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

namespace qb {

// One line of the in-memory log.
struct LogEntry
{
    enum class Level { Debug, Info, Warning, Error };
    static QString text(Level level); // "debug", "info", "warning", "error"
    static std::optional<Level> levelFromText(const QString& text);

    QUuid id = QUuid::createUuid();
    QDateTime timestamp = QDateTime::currentDateTimeUtc();
    QString message;
    Level level = Level::Info;
    QString category;

    // "[2026-01-01T00:00:00Z] [MTP] WARNING: disk full"
    QString formattedLine() const;
};

} // namespace qb

Q_DECLARE_METATYPE(qb::LogEntry)
