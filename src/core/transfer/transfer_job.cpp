#include "core/transfer/transfer_job.h"

#include <QFileInfo>
#include <QHashFunctions>

namespace qb {

QList<TransferType> allTransferTypes()
{
    return {TransferType::Upload, TransferType::Download, TransferType::Move,
            TransferType::Copy,   TransferType::Delete,   TransferType::CreateFolder};
}

QString toText(TransferType type)
{
    switch (type) {
    case TransferType::Upload:
        return QStringLiteral("upload");
    case TransferType::Download:
        return QStringLiteral("download");
    case TransferType::Move:
        return QStringLiteral("move");
    case TransferType::Copy:
        return QStringLiteral("copy");
    case TransferType::Delete:
        return QStringLiteral("delete");
    case TransferType::CreateFolder:
        return QStringLiteral("createFolder");
    }
    return {};
}

std::optional<TransferType> transferTypeFromText(const QString& text)
{
    for (TransferType type : allTransferTypes()) {
        if (toText(type) == text)
            return type;
    }
    return std::nullopt;
}

QList<TransferStatus> allTransferStatuses()
{
    return {TransferStatus::Queued,    TransferStatus::Running, TransferStatus::Paused,
            TransferStatus::Completed, TransferStatus::Failed,  TransferStatus::Canceled};
}

QString toText(TransferStatus status)
{
    switch (status) {
    case TransferStatus::Queued:
        return QStringLiteral("queued");
    case TransferStatus::Running:
        return QStringLiteral("running");
    case TransferStatus::Paused:
        return QStringLiteral("paused");
    case TransferStatus::Completed:
        return QStringLiteral("completed");
    case TransferStatus::Failed:
        return QStringLiteral("failed");
    case TransferStatus::Canceled:
        return QStringLiteral("canceled");
    }
    return {};
}

std::optional<TransferStatus> transferStatusFromText(const QString& text)
{
    for (TransferStatus status : allTransferStatuses()) {
        if (toText(status) == text)
            return status;
    }
    return std::nullopt;
}

bool isFinished(TransferStatus status)
{
    return status == TransferStatus::Completed || status == TransferStatus::Failed ||
           status == TransferStatus::Canceled;
}

TransferEndpoint TransferEndpoint::android(QString deviceId, QString path, QString name,
                                           quint64 attachment)
{
    TransferEndpoint endpoint;
    endpoint.kind = Kind::Android;
    endpoint.deviceId = std::move(deviceId);
    endpoint.path = std::move(path);
    endpoint.name = std::move(name);
    endpoint.attachment = attachment;
    return endpoint;
}

TransferEndpoint TransferEndpoint::local(QUrl url)
{
    TransferEndpoint endpoint;
    endpoint.kind = Kind::Local;
    endpoint.url = std::move(url);
    return endpoint;
}

bool TransferEndpoint::operator==(const TransferEndpoint& other) const
{
    if (kind != other.kind)
        return false;
    if (kind == Kind::Android)
        return deviceId == other.deviceId && path == other.path && name == other.name &&
               attachment == other.attachment;
    return url == other.url;
}

size_t qHash(const TransferEndpoint& endpoint, size_t seed)
{
    if (endpoint.kind == TransferEndpoint::Kind::Android)
        return qHashMulti(seed, 0, endpoint.deviceId, endpoint.path, endpoint.name,
                          endpoint.attachment);
    return qHashMulti(seed, 1, endpoint.url);
}

TransferJob TransferJob::make(TransferType type, TransferEndpoint source,
                              TransferEndpoint destination, qint64 totalBytes)
{
    TransferJob job;
    job.type = type;
    job.source = std::move(source);
    job.destination = std::move(destination);
    job.totalBytes = totalBytes;
    return job;
}

std::optional<qint64> fileSize(const QUrl& localFile)
{
    if (!localFile.isLocalFile())
        return std::nullopt;
    const QFileInfo info(localFile.toLocalFile());
    if (!info.exists())
        return std::nullopt;
    return info.size();
}

} // namespace qb
