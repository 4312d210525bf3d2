#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace qb {

enum class TransferType { Upload, Download, Move, Copy, Delete, CreateFolder };
QString toText(TransferType type); // "upload" ... "createFolder"
std::optional<TransferType> transferTypeFromText(const QString& text);
QList<TransferType> allTransferTypes();

enum class TransferStatus { Queued, Running, Paused, Completed, Failed, Canceled };
QString toText(TransferStatus status); // "queued" ... "canceled"
std::optional<TransferStatus> transferStatusFromText(const QString& text);
QList<TransferStatus> allTransferStatuses();
// Completed, failed and canceled jobs are finished.
bool isFinished(TransferStatus status);

// Where a job's item is or goes: an object on a phone, or a local file or folder.
struct TransferEndpoint
{
    enum class Kind { Android, Local };
    Kind kind = Kind::Local;
    QString deviceId; // Android
    QString path;     // Android: "storage/object"
    QString name;     // Android
    // Android: the attachment of the phone the endpoint was made for (Device::attachment), so
    // that the job never reaches another phone that later has the same id; 0 binds to none.
    quint64 attachment = 0;
    QUrl url; // Local: a file URL

    static TransferEndpoint android(QString deviceId, QString path, QString name,
                                    quint64 attachment = 0);
    static TransferEndpoint local(QUrl url);

    // Same kind and equal fields of that kind.
    bool operator==(const TransferEndpoint& other) const;
};

size_t qHash(const TransferEndpoint& endpoint, size_t seed = 0);

// Failure of a job; the engine also throws it for its own checks.
struct TransferError
{
    QString localizedMessage;

    QString message() const { return localizedMessage; }
};

// One queued operation. Jobs are found by id; they have no equality of their own.
struct TransferJob
{
    QUuid id = QUuid::createUuid();
    TransferType type = TransferType::Download;
    TransferStatus status = TransferStatus::Queued;
    double progress = 0;
    qint64 bytesTransferred = 0;
    qint64 totalBytes = 0;
    TransferEndpoint source;
    TransferEndpoint destination;
    std::optional<TransferError> error;
    int retryCount = 0;
    QDateTime createdAt = QDateTime::currentDateTimeUtc();
    std::optional<double> transferSpeed; // bytes per second

    static TransferJob make(TransferType type, TransferEndpoint source,
                            TransferEndpoint destination, qint64 totalBytes = 0);
};

// Size of a local file, or nothing when it cannot be read.
std::optional<qint64> fileSize(const QUrl& localFile);

} // namespace qb

Q_DECLARE_METATYPE(qb::TransferEndpoint)
Q_DECLARE_METATYPE(qb::TransferError)
Q_DECLARE_METATYPE(qb::TransferJob)
