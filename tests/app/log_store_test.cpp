#include "app/log_store.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimeZone>

using namespace qb;

namespace {

LogEntry entry(int n)
{
    LogEntry e;
    e.timestamp = QDateTime(QDate(2026, 1, 1), QTime(0, 0), QTimeZone::utc()).addSecs(n);
    e.message = QStringLiteral("entry %1").arg(n);
    e.level = LogEntry::Level::Info;
    e.category = QStringLiteral("Transfer");
    return e;
}

} // namespace

TEST(LogStore, LinesAreInUtcAndTheRecentTextIsTheNewest200OldestFirst)
{
    // Other zones are shown in UTC and fractions of a second are dropped.
    LogEntry e = entry(0);
    e.timestamp = QDateTime(QDate(2026, 3, 4), QTime(10, 11, 12, 999), QTimeZone(2 * 3600));
    e.level = LogEntry::Level::Warning;
    EXPECT_EQ(e.formattedLine(),
              QStringLiteral("[2026-03-04T08:11:12Z] [Transfer] WARNING: entry 0"));

    LogStore store;
    EXPECT_EQ(store.recentLogText(), QString());
    QSignalSpy changed(&store, &LogStore::entriesChanged);
    store.setEntries({entry(1), entry(2)});
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(store.recentLogText(), entry(1).formattedLine() + "\n" + entry(2).formattedLine());
    for (int count : {200, 250}) {
        SCOPED_TRACE(count);
        QList<LogEntry> entries;
        for (int i = 1; i <= count; ++i)
            entries.append(entry(i));
        store.setEntries(entries);
        const QStringList lines = store.recentLogText().split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 200);
        EXPECT_EQ(lines.first(), entry(count - 199).formattedLine());
        EXPECT_EQ(lines.last(), entry(count).formattedLine());
    }
}
