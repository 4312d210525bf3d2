// The download phase of a connection: the queued file's lookup, its reply head and the chunks
// the pump asks for, and what the pump reports to the outgoing queue.
#include "wifi/local_connection_handler.h"

#include "platform/local_files.h"
#include "wifi/http_reply.h"
#include "wifi/wifi_server_backend.h"

#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <unistd.h>

namespace qb {

void LocalConnectionHandler::handleDownload(const QString& path)
{
    const qsizetype question = path.indexOf(u'?');
    if (question < 0) {
        sendText(400, QStringLiteral("Missing id"));
        return;
    }
    QString id;
    const QStringView query = QStringView(path).mid(question + 1);
    for (QStringView piece : query.split(u'&', Qt::SkipEmptyParts)) {
        const QList<QStringView> parts = splitDroppingEmpty(piece, u'=', 1);
        if (parts.size() == 2 && parts[0] == u"id") {
            id = parts[1].toString();
        }
    }
    if (id.isEmpty()) {
        sendText(404, QStringLiteral("No such file"));
        return;
    }
    const QString host = m_host.isEmpty() ? QStringLiteral("unknown") : m_host;
    m_env.backend->downloadPath(id, host, this, [this, id](std::optional<QString> filePath) {
        if (!filePath) {
            sendText(404, QStringLiteral("No such file"));
            return;
        }
        startDownload(id, *filePath);
    });
}

void LocalConnectionHandler::startDownload(const QString& id, const QString& filePath)
{
    m_env.backend->markSending(id);
    qint64 size = 0;
    QString reason;
    const int fd = LocalFiles::openRegularFile(filePath, &size, &reason);
    const std::optional<LocalFiles::FileStamp> stamp =
        fd < 0 ? std::nullopt : LocalFiles::fileStamp(fd);
    if (!stamp) {
        if (fd >= 0) {
            reason = LocalFiles::errnoText(errno);
            ::close(fd);
        }
        m_log.error(QStringLiteral("Failed to read file for download: %1"), {reason});
        m_env.backend->markFailed(id);
        sendText(500, QStringLiteral("Failed to read file"));
        return;
    }
    // The size announced is the one the later checks compare with.
    size = stamp->size;
    m_fileStamp = *stamp;
    m_fileFd = fd;
    m_downloadId = id;
    m_downloadPath = filePath;
    m_replied = true;
    m_phase = Phase::Downloading;
    DownloadPumpDelegate& delegate = *this;
    m_pump = std::make_unique<DownloadPump>(delegate, m_log, id, size);
    m_log.info(QStringLiteral("Starting /download id=%1 (%2 bytes, chunk=%3, inflight=%4)"),
               {id, QString::number(size), QString::number(DownloadPump::kChunkSize),
                QString::number(DownloadPump::kMaxInFlight)});
    queue({Output::Kind::DownloadHead,
           HttpReply::downloadHead(size, QFileInfo(filePath).fileName())});
}

bool LocalConnectionHandler::downloadFileRewritten() const
{
    const std::optional<LocalFiles::FileStamp> now = LocalFiles::fileStamp(m_fileFd);
    return !now || LocalFiles::rewrittenSince(m_fileStamp, *now);
}

void LocalConnectionHandler::sendChunk(qint64 offset, qint64 length, bool lastChunk)
{
    Output chunk{Output::Kind::Chunk, {}};
    chunk.fileOffset = offset;
    chunk.length = length;
    chunk.lastChunk = lastChunk;
    queue(std::move(chunk));
}

void LocalConnectionHandler::askCancelled()
{
    m_env.backend->isCancelled(m_downloadId, this, [this](bool cancelled) {
        if (m_pump) {
            m_pump->cancellationAnswered(cancelled);
        }
    });
}

void LocalConnectionHandler::reportProgress(qint64 sentBytes)
{
    m_env.backend->updateProgress(m_downloadId, sentBytes);
}

void LocalConnectionHandler::clearCancellation()
{
    m_env.backend->clearCancellation(m_downloadId);
}

void LocalConnectionHandler::markFailed()
{
    m_env.backend->markFailed(m_downloadId);
}

void LocalConnectionHandler::markCompleted(qint64 bytes)
{
    m_env.backend->recordSent(m_downloadPath, bytes,
                              m_host.isEmpty() ? QStringLiteral("unknown") : m_host);
    m_env.backend->markCompleted(m_downloadId);
}

void LocalConnectionHandler::finishConnection()
{
    m_output.clear();
    if (m_peerClosed) {
        finish();
    } else {
        closeGracefully();
    }
}

double LocalConnectionHandler::now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace qb
