#pragma once

#include "wifi/json_array_file.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace qb {

// Keeps a registry file (a long history, the pairings) up to date without holding up the GUI
// thread: a change only marks the file stale, and a short interval later the list as it then
// stands is written whole, by a thread of its own, in one go however many changes came meanwhile.
// A change that must not wait is handed to that thread at once, and whoever needs to know when
// the disk holds it is told then.
//
// The GUI thread only takes the snapshot (a copy of an implicitly shared list, which costs next
// to nothing); encoding and writing happen on the writing thread. Snapshots are written in the
// order they were taken, and one that is still waiting when a newer one comes is dropped, so an
// older list never overwrites a newer one. A write that fails leaves the file as it was and the
// next change writes the whole list again.
//
// Threads: created, told and flushed on one thread (the registry's). The file is read there at
// creation, before any write.
class HistoryFileWriter
{
public:
    // Runs on the writing thread: the array to write, built from what the snapshot captured.
    using Encoder = std::function<QJsonArray()>;
    // Runs on the registry's thread: captures the list as it stands now.
    using Snapshot = std::function<Encoder()>;

    static constexpr std::chrono::milliseconds kInterval{500};
    // How long flush() waits for the disk unless told otherwise: the quit's wait for it.
    static constexpr std::chrono::milliseconds kFlushWait{10'000};

    // Runs on the writing thread once a write that holds the change has ended: whether the
    // file holds it now.
    using Written = std::function<void(bool saved)>;

    HistoryFileWriter(const QString& path, Snapshot snapshot,
                      std::chrono::milliseconds interval = kInterval);
    // The snapshot of a list of records with toJson(): a copy of `list` (cheap, as it is
    // implicitly shared) whose encoding is left to the writing thread. `list` outlives the writer.
    template <typename T> static Snapshot snapshotOf(const QList<T>& list)
    {
        return [&list]() -> Encoder {
            return [records = list] {
                QJsonArray array;
                for (const T& record : records)
                    array.append(record.toJson());
                return array;
            };
        };
    }
    // Writes what is still unwritten, waiting up to kFlushWait for the disk.
    ~HistoryFileWriter();

    HistoryFileWriter(const HistoryFileWriter&) = delete;
    HistoryFileWriter& operator=(const HistoryFileWriter&) = delete;

    // Reads the file; see JsonArrayFile::load(). Only before the first change.
    template <typename T>
    QList<T> load(const std::function<std::optional<T>(const QJsonObject&)>& decode)
    {
        return file().load<T>(decode);
    }

    QString path() const;
    // Where an undecodable file was moved before the first write replaced it.
    QString setAsidePath() const;
    // Why nothing is written over the file in this run; see JsonArrayFile::problem().
    QString problem() const;

    // The list changed: it is written within the interval.
    void changed();
    // The list changed and is written now, without waiting for the interval; `written`, if
    // given, is called once a write of it (or of a newer list) has ended.
    void writeNow(Written written = {});
    // Whether a change is still waiting for its interval.
    bool stale() const { return m_stale; }
    // Writes the list now, unless the file already holds it, and waits until the disk has it or
    // `deadline` passes. False (the failure logged) when the file may not hold the list yet.
    bool flush(QDeadlineTimer deadline = QDeadlineTimer(kFlushWait));

    // Whether a write of any history is still going on in this process (a quit that gave up
    // waiting for the disk ends without waiting for it).
    static bool writesLeftRunning();

private:
    struct State;
    JsonArrayFile& file();
    void handOver(Written written = {});
    bool succeeded() const; // whether the last write that ended left the list on the disk
    bool wroteOnce() const; // whether any write of this run left the list on the disk

    std::shared_ptr<State> m_state;
    Snapshot m_snapshot;
    QTimer m_timer;
    bool m_stale = false; // changed since the last snapshot
};

} // namespace qb
