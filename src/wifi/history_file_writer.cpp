#include "wifi/history_file_writer.h"

#include "platform/logger.h"

#include <QFile>
#include <QMutex>
#include <QWaitCondition>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace qb {

namespace {

// Writing threads still running, of every history.
std::atomic<int> runningWriters{0};

} // namespace

struct HistoryFileWriter::State
{
    explicit State(const QString& path) : file(path) {}

    JsonArrayFile file; // used by the writing thread once the first snapshot is handed over
    QMutex mutex;
    QWaitCondition progressed;
    Encoder waiting;           // the newest snapshot, until the writing thread takes it
    std::vector<Written> told; // to be told when the waiting snapshot (or a newer) is written
    bool writing = false;      // a writing thread runs
    bool lastSucceeded = true; // whether the last write that ended left the list on the disk
    bool wroteOnce = false;    // whether a write of this run has left the list on the disk
    QString setAsidePath;

    // The writing thread: writes each snapshot it finds waiting, newest only, until none is.
    static void drain(const std::shared_ptr<State>& state)
    {
        for (;;) {
            Encoder encoder;
            std::vector<Written> told;
            {
                QMutexLocker lock(&state->mutex);
                if (!state->waiting) {
                    state->writing = false;
                    --runningWriters;
                    state->progressed.wakeAll();
                    return;
                }
                encoder = std::exchange(state->waiting, nullptr);
                told = std::exchange(state->told, {});
            }
            bool saved = false;
            try {
                saved = state->file.save(encoder());
            } catch (...) {
                // Encoding does not throw; if it did, the file keeps its content.
            }
            {
                QMutexLocker lock(&state->mutex);
                state->lastSucceeded = saved;
                state->wroteOnce = state->wroteOnce || saved;
                state->setAsidePath = state->file.setAsidePath();
                state->progressed.wakeAll();
            }
            for (const Written& written : told) {
                try {
                    written(saved);
                } catch (...) {
                    // Telling does not throw; never let it end the writing thread.
                }
            }
        }
    }
};

HistoryFileWriter::HistoryFileWriter(const QString& path, Snapshot snapshot,
                                     std::chrono::milliseconds interval)
    : m_state(std::make_shared<State>(path)), m_snapshot(std::move(snapshot))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(interval);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { handOver(); });
}

HistoryFileWriter::~HistoryFileWriter()
{
    flush();
}

JsonArrayFile& HistoryFileWriter::file()
{
    return m_state->file;
}

QString HistoryFileWriter::path() const
{
    return m_state->file.path();
}

QString HistoryFileWriter::setAsidePath() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->setAsidePath;
}

QString HistoryFileWriter::problem() const
{
    return m_state->file.problem(); // settled when the file was read, before any write
}

bool HistoryFileWriter::writesLeftRunning()
{
    return runningWriters > 0;
}

void HistoryFileWriter::changed()
{
    m_stale = true;
    // Not restarted by later changes: a steady stream of records is still written every interval.
    if (!m_timer.isActive())
        m_timer.start();
}

void HistoryFileWriter::writeNow(Written written)
{
    handOver(std::move(written));
}

void HistoryFileWriter::handOver(Written written)
{
    m_timer.stop();
    m_stale = false;
    Encoder encoder = m_snapshot();
    QMutexLocker lock(&m_state->mutex);
    m_state->waiting = std::move(encoder); // an older one not taken yet is outdated by it
    if (written)
        m_state->told.push_back(std::move(written));
    if (m_state->writing)
        return;
    m_state->writing = true;
    ++runningWriters;
    // A thread per burst rather than a pool: a write that a stuck disk holds must not keep the
    // process's pools, or its end, waiting.
    std::thread([state = m_state] { State::drain(state); }).detach();
}

bool HistoryFileWriter::flush(QDeadlineTimer deadline)
{
    const bool handedOver = m_stale;
    if (handedOver)
        handOver();
    // Until the writing thread has ended, not merely written: a quit that finds none running
    // knows the disk answered.
    const auto writerEnded = [&] {
        QMutexLocker lock(&m_state->mutex);
        while (m_state->writing) {
            if (!m_state->progressed.wait(&m_state->mutex, deadline) && deadline.hasExpired())
                break;
        }
        return !m_state->writing;
    };
    bool ended = writerEnded();
    // A write refused before this flush (a full disk, since given room) is tried once more; one
    // still running when the flush began is judged only once it has ended.
    if (ended && !handedOver && !succeeded()) {
        handOver();
        ended = writerEnded();
    }
    // A cleanup removed the file (or its folder) since it was written: what it held is written
    // again, so that the next run still finds it.
    if (ended && !handedOver && succeeded() && wroteOnce() && !QFile::exists(path())) {
        handOver();
        ended = writerEnded();
    }
    if (!ended) {
        Logger(QStringLiteral("WiFiAdvertiser"), true)
            .warning(QStringLiteral("Could not save %1 in time; the disk is still writing it"),
                     {m_state->file.path()});
        return false;
    }
    return succeeded();
}

bool HistoryFileWriter::wroteOnce() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->wroteOnce;
}

bool HistoryFileWriter::succeeded() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->lastSucceeded;
}

} // namespace qb
