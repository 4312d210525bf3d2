#pragma once

#include "app/log_entry.h"

#include <QList>
#include <QObject>

#include <mutex>

namespace qb {

// In-memory log whose newest entries go into the crash report. Used on the GUI thread;
// recentLogText() may be called from any thread.
class LogStore : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype recentLimit = 200;

    explicit LogStore(QObject* parent = nullptr);

    // The process-wide store, created on first use.
    static LogStore& shared();

    QList<LogEntry> entries() const;
    void setEntries(QList<LogEntry> entries);

    // The newest 200 entries, oldest first, one formatted line each, joined by "\n".
    QString recentLogText() const;

signals:
    void entriesChanged();

private:
    mutable std::mutex m_mutex;
    QList<LogEntry> m_entries;
};

} // namespace qb
