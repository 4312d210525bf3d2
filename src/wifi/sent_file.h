#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace qb {

// A file a phone fetched from this computer over Wi-Fi.
struct SentFile
{
    QUuid id;
    QUrl url;
    qint64 bytes = 0;
    QDateTime sentAt;
    QString recipientHost;

    bool operator==(const SentFile&) const = default;

    QJsonObject toJson() const;
    static std::optional<SentFile> fromJson(const QJsonObject& object); // every key required
};

size_t qHash(const SentFile& file, size_t seed = 0);

} // namespace qb

// Every member may be moved in memory: a record prepended to a long history moves the others
// as a block, not one by one.
Q_DECLARE_TYPEINFO(qb::SentFile, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(qb::SentFile)
