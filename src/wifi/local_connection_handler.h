#pragma once

#include "platform/local_files.h"
#include "platform/logger.h"
#include "wifi/connection_environment.h"
#include "wifi/download_pump.h"
#include "wifi/http_request_parser.h"
#include "wifi/request_router.h"
#include "wifi/upload_file_writer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <deque>
#include <memory>

class QSocketNotifier;

namespace qb {

// Serves one accepted TCP connection: reads one request, answers it once and closes. All of
// its work runs on the thread it lives on, one event at a time. Its socket I/O, reading and
// dispatch live in local_connection_handler.cpp, the upload phase in
// local_connection_handler_upload.cpp and the download phase in
// local_connection_handler_download.cpp.
class LocalConnectionHandler : public QObject, private RouteResponder, private DownloadPumpDelegate
{
    Q_OBJECT
public:
    // Takes ownership of the connected, non-blocking socket `fd` from `host`.
    LocalConnectionHandler(int fd, QString host, const ConnectionEnvironment& environment,
                           QObject* parent = nullptr);
    ~LocalConnectionHandler() override;

    QUuid id() const { return m_id; }
    QString host() const { return m_host; }
    void start();
    // Closes the connection if it is still receiving its request: a newer one takes its place.
    void evict();

signals:
    // Emitted once, when the request head has arrived.
    void headReceived();
    // Emitted as the request body arrives, with the bytes of it so far.
    void bodyProgress(qint64 bytes);
    // Emitted once, when the whole request has arrived or the connection was answered before.
    void requestReceived();
    // Emitted once, when a pairing or a reconnection was accepted: the phone proved its token.
    void tokenAccepted();
    // Emitted once, just before the socket is closed.
    void closing();
    // Emitted once, when the connection has ended.
    void finished();

private:
    enum class Phase { ReadingHead, ReadingBody, Uploading, Dispatched, Downloading, Closing };

    // One piece of output: bytes, or a range of the download's file.
    struct Output
    {
        enum class Kind { Reply, DownloadHead, Chunk } kind;
        QByteArray bytes;
        qint64 done = 0;
        qint64 fileOffset = 0;
        qint64 length = 0;
        bool lastChunk = false;
    };

    void onReadable();
    void onWritable();
    void handleBytes(const char* data, qint64 size);
    void onHeadComplete(const HttpRequestHead& head, QByteArrayView rest);
    void dispatch();
    void beginUpload();
    void finishUpload();
    void uploadCommitted(const std::optional<QString>& path, qint64 bytes);
    void handleDownload(const QString& path);
    void startDownload(const QString& id, const QString& filePath);
    bool downloadFileRewritten() const;
    void onPeerClosed();
    void onReadError(const QString& error);
    void queue(Output output);
    void flush();
    void closeGracefully();
    void abort();
    void finish();
    void touch();
    void onRequestTimer();
    void markRequestReceived();

    // RouteResponder
    void sendText(int status, const QString& text) override;
    void sendJSON(const QJsonObject& object) override;
    QObject* context() override { return this; }

    // DownloadPumpDelegate
    void sendChunk(qint64 offset, qint64 length, bool lastChunk) override;
    void askCancelled() override;
    void reportProgress(qint64 sentBytes) override;
    void clearCancellation() override;
    void markFailed() override;
    void markCompleted(qint64 bytes) override;
    void abortConnection() override { abort(); }
    void finishConnection() override;
    double now() override;

    const QUuid m_id = QUuid::createUuid();
    int m_fd;
    ConnectionEnvironment m_env;
    Logger m_log;
    QString m_host;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer m_idleTimer;
    QElapsedTimer m_activity; // since the last byte in or out
    QTimer m_drainTimer;
    // The head's deadline, then each window of the body's minimum rate.
    QTimer m_requestTimer;
    qint64 m_bodyAtWindowStart = 0;
    bool m_requestReceived = false;
    Phase m_phase = Phase::ReadingHead;
    bool m_didFinish = false;
    bool m_replied = false;
    bool m_flushing = false;
    bool m_peerClosed = false;

    QByteArray m_buffer; // the head, then a small body; bounded
    HttpRequestHead m_head;
    RequestRouter::Route m_route = RequestRouter::Route::NotFound;
    qint64 m_bodyReceived = 0;
    std::shared_ptr<UploadFileWriter> m_upload;
    QString m_uploadName;

    std::deque<Output> m_output;
    int m_fileFd = -1;
    LocalFiles::FileStamp m_fileStamp; // as the download began
    QString m_downloadId;
    QString m_downloadPath;
    std::unique_ptr<DownloadPump> m_pump;
};

} // namespace qb
