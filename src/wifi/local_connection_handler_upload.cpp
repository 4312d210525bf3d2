// The upload phase of a connection: the body streams into a file in the received-files folder.
#include "wifi/local_connection_handler.h"

#include "wifi/main_thread_gate.h"
#include "wifi/wifi_server_backend.h"

#include <QDateTime>
#include <QThreadPool>

namespace qb {

void LocalConnectionHandler::beginUpload()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    m_upload = std::make_shared<UploadFileWriter>(m_log);
    switch (m_upload->open(m_env.downloadsFolder(), now)) {
    case UploadFileWriter::Error::None:
        break;
    case UploadFileWriter::Error::StaleFileBlocksFolder:
        m_upload.reset();
        sendText(500, QStringLiteral("Stale file blocks Quillbay directory"));
        return;
    case UploadFileWriter::Error::CreateFolderFailed:
        m_upload.reset();
        sendText(500, QStringLiteral("Failed to create directory"));
        return;
    case UploadFileWriter::Error::WriteFailed:
        m_upload.reset();
        sendText(500, QStringLiteral("Failed to write file"));
        return;
    }
    m_uploadName = UploadFileWriter::uploadName(m_head.fileName, now);
    m_phase = Phase::Uploading;
    if (m_head.contentLength == 0) {
        finishUpload();
    }
}

void LocalConnectionHandler::finishUpload()
{
    m_phase = Phase::Dispatched;
    markRequestReceived();
    // The commit takes as long as the disk does; the phone waits for its answer meanwhile, and
    // a connection closed now would have it send the file again although it is saved.
    m_idleTimer.stop();
    // The commit owns the writer from here: a phone that goes away meanwhile changes nothing, as
    // its file is whole and only waits for its name.
    const std::shared_ptr<UploadFileWriter> writer = std::exchange(m_upload, nullptr);
    const QString name = m_uploadName;
    const QString host = m_host.isEmpty() ? QStringLiteral("unknown") : m_host;
    const QString deviceName = m_head.deviceName.value_or(QStringLiteral("Android device"));
    const LiveContexts::Ticket ticket = LiveContexts::instance().enlist(this);
    auto commit = [this, writer, name, host, deviceName, ticket, log = m_log,
                   backend = m_env.backend] {
        const std::optional<QString> path = writer->commit(name);
        const qint64 bytes = writer->bytesWritten();
        if (path) {
            log.info(QStringLiteral("Saved upload to %1 (%2 bytes)"),
                     {*path, QString::number(bytes)});
            backend->recordReceived(*path, bytes, host, deviceName);
        }
        LiveContexts::instance().post(ticket,
                                      [this, path, bytes] { uploadCommitted(path, bytes); });
    };
    if (m_env.commits) {
        m_env.commits->start(std::move(commit));
    } else {
        commit();
    }
}

void LocalConnectionHandler::uploadCommitted(const std::optional<QString>& path, qint64 bytes)
{
    touch();
    m_idleTimer.start(m_env.idleTimeoutMs);
    if (!path) {
        sendText(500, QStringLiteral("Failed to write file"));
        return;
    }
    sendJSON({{QStringLiteral("ok"), true},
              {QStringLiteral("path"), *path},
              {QStringLiteral("bytes"), bytes}});
}

} // namespace qb
