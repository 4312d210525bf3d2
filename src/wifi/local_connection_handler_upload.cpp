// The upload phase of a connection: the body streams into a file in the received-files folder.
#include "wifi/local_connection_handler.h"

#include "wifi/wifi_server_backend.h"

#include <QDateTime>

namespace qb {

void LocalConnectionHandler::beginUpload()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    m_upload = std::make_unique<UploadFileWriter>(m_log);
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
    const std::optional<QString> path = m_upload->commit(m_uploadName);
    const qint64 bytes = m_upload->bytesWritten();
    m_upload.reset();
    m_phase = Phase::Dispatched;
    if (!path) {
        sendText(500, QStringLiteral("Failed to write file"));
        return;
    }
    m_log.info(QStringLiteral("Saved upload to %1 (%2 bytes)"), {*path, QString::number(bytes)});
    const QString host = m_host.isEmpty() ? QStringLiteral("unknown") : m_host;
    m_env.backend->recordReceived(*path, bytes, host,
                                  m_head.deviceName.value_or(QStringLiteral("Android device")));
    sendJSON({{QStringLiteral("ok"), true},
              {QStringLiteral("path"), *path},
              {QStringLiteral("bytes"), bytes}});
}

} // namespace qb
