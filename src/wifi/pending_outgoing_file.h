#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace qb {

enum class SendStatus { Waiting, Sending, Completed, Failed };
QString toText(SendStatus status); // "waiting", "sending", "completed", "failed"
std::optional<SendStatus> sendStatusFromText(const QString& text);

// A file offered to one phone, waiting for the phone to fetch it.
struct PendingOutgoingFile
{
    QUuid id;
    QUrl url;
    QString recipientHost;
    QDateTime queuedAt;
    qint64 bytes = 0; // size at enqueue, 0 when unreadable
    qint64 sentBytes = 0;
    SendStatus status = SendStatus::Waiting;
    std::optional<QDateTime> sendStartedAt; // first time it became sending

    bool operator==(const PendingOutgoingFile&) const = default;

    // Average rate since the fetch started; 0 until 0.25 s have passed and a byte went out.
    double bytesPerSecond(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;
    // Time left at that rate; absent while there is no rate.
    std::optional<double> etaSeconds(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;
};

size_t qHash(const PendingOutgoingFile& file, size_t seed = 0);

// One element of a phone's "/pending" list.
struct OfferedFile
{
    QString id;   // 36-character upper-case UUID text
    QString name; // last path component of the file
    qint64 size = 0;

    bool operator==(const OfferedFile&) const = default;
};

} // namespace qb

Q_DECLARE_METATYPE(qb::PendingOutgoingFile)
