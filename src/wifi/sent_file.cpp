#include "wifi/sent_file.h"

#include "wifi/wire_format.h"

#include <QHash>

namespace qb {

QJsonObject SentFile::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), wire::uuidText(id)},
        {QStringLiteral("url"), wire::urlText(url)},
        {QStringLiteral("bytes"), bytes},
        {QStringLiteral("sentAt"), wire::referenceSeconds(sentAt)},
        {QStringLiteral("recipientHost"), recipientHost},
    };
}

std::optional<SentFile> SentFile::fromJson(const QJsonObject& object)
{
    const auto id = wire::uuidField(object, QStringLiteral("id"));
    const auto url = wire::urlField(object, QStringLiteral("url"));
    const auto bytes = wire::integerField(object, QStringLiteral("bytes"));
    const auto sentAt = wire::dateField(object, QStringLiteral("sentAt"));
    const auto recipientHost = wire::stringField(object, QStringLiteral("recipientHost"));
    if (!id || !url || !bytes || !sentAt || !recipientHost)
        return std::nullopt;
    return SentFile{*id, *url, *bytes, *sentAt, *recipientHost};
}

size_t qHash(const SentFile& file, size_t seed)
{
    return qHashMulti(seed, file.id, file.url, file.bytes, file.sentAt, file.recipientHost);
}

} // namespace qb
