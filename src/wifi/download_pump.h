#pragma once

#include "platform/logger.h"

#include <QString>

namespace qb {

// What a download needs from its connection and from the outgoing queue. The pump calls these
// on the connection's thread; answers come back through the pump's own methods.
class DownloadPumpDelegate
{
public:
    virtual ~DownloadPumpDelegate() = default;
    // Hands the file's bytes [offset, offset + length) to the connection; `chunkSent()` follows.
    virtual void sendChunk(qint64 offset, qint64 length, bool lastChunk) = 0;
    // Asks whether the user cancelled the file; `cancellationAnswered()` follows.
    virtual void askCancelled() = 0;
    virtual void reportProgress(qint64 sentBytes) = 0;
    virtual void clearCancellation() = 0;
    virtual void markFailed() = 0;
    // The last byte went out: record the sent file and complete the queue entry.
    virtual void markCompleted(qint64 bytes) = 0;
    // Ends the connection at once, dropping what is unsent.
    virtual void abortConnection() = 0;
    // Ends the connection in order.
    virtual void finishConnection() = 0;
    // Seconds on any steady clock; only differences count.
    virtual double now() = 0;
};

// Streams one file in fixed chunks with a bounded number in flight, reports progress at most
// every 80 ms and once at the end, and stops when the user cancels.
class DownloadPump
{
public:
    static constexpr qint64 kChunkSize = 262144;
    static constexpr int kMaxInFlight = 8;
    static constexpr double kProgressInterval = 0.08;

    DownloadPump(DownloadPumpDelegate& delegate, Logger log, QString id, qint64 length);

    // The reply head has gone out: start streaming.
    void start();
    void cancellationAnswered(bool cancelled);
    void chunkSent(qint64 length, bool lastChunk, const QString& error);
    // Sending failed outside a chunk (the reply head).
    void sendFailed(const QString& error);
    // Reading from the phone failed, or it went quiet for too long.
    void readFailed(const QString& error);
    // The file was written while it was sent: what went out may mix two versions.
    void fileChanged();

    bool isFinished() const { return m_finished; }
    qint64 offset() const { return m_offset; }
    qint64 acked() const { return m_acked; }
    int inFlight() const { return m_inFlight; }

private:
    void pump();
    void fill();
    void fail();
    void finishDownload();

    DownloadPumpDelegate& m_delegate;
    Logger m_log;
    QString m_id;
    qint64 m_length;
    qint64 m_offset = 0;
    qint64 m_acked = 0;
    int m_inFlight = 0;
    bool m_finished = false;
    bool m_askPending = false;
    double m_lastReportedAt = 0;
    bool m_reportedOnce = false;
};

} // namespace qb
