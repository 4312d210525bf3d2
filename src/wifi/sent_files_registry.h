#pragma once

#include "wifi/history_file_writer.h"
#include "wifi/main_thread_gate.h"
#include "wifi/sent_file.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

namespace qb {

// History of files phones fetched, newest first, kept in "sent_files.json".
// A record is written to the file within a short interval, by a thread of its own; save() and
// the destructor write what is still unwritten at once.
//
// Threads: lives on the GUI thread, and everything but recordSentFileOnMainActor() is called
// there. That bridge may be called from any thread (the server's connection threads): it posts
// record() to the GUI thread and returns at once; records are applied in posting order.
class SentFilesRegistry : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    static inline const QString kFileName = QStringLiteral("sent_files.json");

    // Creates `folder` if needed (failure is only logged) and reads the file there.
    explicit SentFilesRegistry(const QString& folder, QObject* parent = nullptr);
    ~SentFilesRegistry() override;

    // The process-wide history in the application's data folder, created on first use (GUI thread).
    static SentFilesRegistry& shared();

    QList<SentFile> files() const { return m_files; }
    void setFiles(const QList<SentFile>& files); // observers told when it differs; not saved
    QUrl storeURL() const;

    void record(const QUrl& url, qint64 bytes, const QString& recipientHost);
    // Writes the list now (a record only asks for a write within a short interval) and waits
    // for the disk until `deadline`. False (logged) when the file may not hold the list.
    bool save(QDeadlineTimer deadline = QDeadlineTimer(HistoryFileWriter::kFlushWait));

    // Any thread: posts record().
    void recordSentFileOnMainActor(const QUrl& url, qint64 bytes, const QString& recipientHost);

    void setClock(Clock clock) { m_clock = std::move(clock); }
    QString setAsidePath() const { return m_writer.setAsidePath(); }
    // Why the file is left as it is and nothing is saved over it in this run; empty when it is not.
    QString fileProblem() const { return m_writer.problem(); }

signals:
    void filesChanged();

private:
    QList<SentFile> m_files;
    Clock m_clock;
    // Declared after the list it snapshots: destroyed (and flushed) first.
    HistoryFileWriter m_writer;
    MainThreadGate m_gate;
};

} // namespace qb
