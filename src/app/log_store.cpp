#include "app/log_store.h"

#include <QStringList>

namespace qb {

LogStore::LogStore(QObject* parent) : QObject(parent) {}

LogStore& LogStore::shared()
{
    static LogStore* store = new LogStore; // kept until exit, like the process itself
    return *store;
}

QList<LogEntry> LogStore::entries() const
{
    std::lock_guard lock(m_mutex);
    return m_entries;
}

void LogStore::setEntries(QList<LogEntry> entries)
{
    {
        std::lock_guard lock(m_mutex);
        m_entries = std::move(entries);
    }
    emit entriesChanged();
}

QString LogStore::recentLogText() const
{
    std::lock_guard lock(m_mutex);
    const qsizetype start = std::max<qsizetype>(0, m_entries.size() - recentLimit);
    QStringList lines;
    lines.reserve(m_entries.size() - start);
    for (qsizetype i = start; i < m_entries.size(); ++i)
        lines.append(m_entries.at(i).formattedLine());
    return lines.join(QLatin1Char('\n'));
}

} // namespace qb
