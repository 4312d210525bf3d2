#include "wifi/received_file.h"

#include "wifi/wire_format.h"

#include <QHash>

namespace qb {

QJsonObject ReceivedFile::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), wire::uuidText(id)},
        {QStringLiteral("url"), wire::urlText(url)},
        {QStringLiteral("bytes"), bytes},
        {QStringLiteral("receivedAt"), wire::referenceSeconds(receivedAt)},
        {QStringLiteral("senderHost"), senderHost},
        {QStringLiteral("senderName"), senderName},
    };
}

std::optional<ReceivedFile> ReceivedFile::fromJson(const QJsonObject& object)
{
    const auto id = wire::uuidField(object, QStringLiteral("id"));
    const auto url = wire::urlField(object, QStringLiteral("url"));
    const auto bytes = wire::integerField(object, QStringLiteral("bytes"));
    const auto receivedAt = wire::dateField(object, QStringLiteral("receivedAt"));
    const auto senderHost = wire::stringField(object, QStringLiteral("senderHost"));
    const auto senderName = wire::stringField(object, QStringLiteral("senderName"));
    if (!id || !url || !bytes || !receivedAt || !senderHost || !senderName)
        return std::nullopt;
    return ReceivedFile{*id, *url, *bytes, *receivedAt, *senderHost, *senderName};
}

size_t qHash(const ReceivedFile& file, size_t seed)
{
    return qHashMulti(seed, file.id, file.url, file.bytes, file.receivedAt, file.senderHost,
                      file.senderName);
}

} // namespace qb
