#include "wifi/download_pump.h"

#include <algorithm>

namespace qb {

DownloadPump::DownloadPump(DownloadPumpDelegate& delegate, Logger log, QString id, qint64 length)
    : m_delegate(delegate), m_log(std::move(log)), m_id(std::move(id)), m_length(length)
{}

void DownloadPump::start()
{
    pump();
}

void DownloadPump::pump()
{
    if (m_finished || m_askPending) {
        return;
    }
    // Asked before every refill, so a cancellation stops the stream within one chunk.
    m_askPending = true;
    m_delegate.askCancelled();
}

void DownloadPump::cancellationAnswered(bool cancelled)
{
    m_askPending = false;
    if (m_finished) {
        return;
    }
    if (cancelled) {
        m_log.info(QStringLiteral("Cancelled /download id=%1 at %2/%3"),
                   {m_id, QString::number(m_offset), QString::number(m_length)});
        m_finished = true;
        m_delegate.clearCancellation();
        m_delegate.abortConnection();
        return;
    }
    if (m_length == 0) {
        // Nothing to stream: the download is complete once its head has gone out.
        m_delegate.reportProgress(0);
        finishDownload();
        return;
    }
    fill();
}

void DownloadPump::fill()
{
    while (!m_finished && m_inFlight < kMaxInFlight && m_offset < m_length) {
        const qint64 end = std::min(m_offset + kChunkSize, m_length);
        const qint64 begin = m_offset;
        m_offset = end;
        ++m_inFlight;
        m_delegate.sendChunk(begin, end - begin, end == m_length);
    }
}

void DownloadPump::chunkSent(qint64 length, bool lastChunk, const QString& error)
{
    if (m_finished) {
        return;
    }
    --m_inFlight;
    if (!error.isNull()) {
        sendFailed(error);
        return;
    }
    m_acked += length;
    const double now = m_delegate.now();
    if (lastChunk && m_inFlight == 0) {
        m_lastReportedAt = now;
        m_delegate.reportProgress(m_acked);
        finishDownload();
        return;
    }
    if (!m_reportedOnce || now - m_lastReportedAt >= kProgressInterval) {
        m_reportedOnce = true;
        m_lastReportedAt = now;
        m_delegate.reportProgress(m_acked);
    }
    pump();
}

void DownloadPump::sendFailed(const QString& error)
{
    if (m_finished) {
        return;
    }
    m_log.error(QStringLiteral("Chunk send failed (peer likely cancelled): %1"), {error});
    fail();
}

void DownloadPump::readFailed(const QString& error)
{
    if (m_finished) {
        return;
    }
    m_log.error(QStringLiteral("recv error during download: %1"), {error});
    fail();
}

void DownloadPump::fileChanged()
{
    if (m_finished) {
        return;
    }
    m_log.error(QStringLiteral("Stopped /download id=%1 at %2/%3: the file changed while it was "
                               "sent"),
                {m_id, QString::number(m_acked), QString::number(m_length)});
    fail();
}

void DownloadPump::fail()
{
    m_finished = true;
    m_delegate.markFailed();
    m_delegate.finishConnection();
}

void DownloadPump::finishDownload()
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_delegate.markCompleted(m_length);
    m_log.info(QStringLiteral("Finished /download id=%1"), {m_id});
    m_delegate.finishConnection();
}

} // namespace qb
