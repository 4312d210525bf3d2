#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace qb {

// A file a phone uploaded to this computer over Wi-Fi.
struct ReceivedFile
{
    QUuid id;
    QUrl url; // where the upload was stored
    qint64 bytes = 0;
    QDateTime receivedAt;
    QString senderHost;
    QString senderName;

    bool operator==(const ReceivedFile&) const = default;

    QJsonObject toJson() const;
    static std::optional<ReceivedFile> fromJson(const QJsonObject& object); // every key required
};

size_t qHash(const ReceivedFile& file, size_t seed = 0);

} // namespace qb

// Every member may be moved in memory: a record prepended to a long history moves the others
// as a block, not one by one.
Q_DECLARE_TYPEINFO(qb::ReceivedFile, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(qb::ReceivedFile)
