#include "browsing/phone_item_transferable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>

namespace qb {

QByteArray PhoneItemTransferable::toJson() const
{
    const QJsonObject json{
        {QStringLiteral("fileItem"), fileItem.toJson()},
        {QStringLiteral("deviceId"), deviceId},
        {QStringLiteral("sourceFolderPath"), sourceFolderPath},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

std::optional<PhoneItemTransferable> PhoneItemTransferable::fromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue item = object.value(QStringLiteral("fileItem"));
    const QJsonValue deviceId = object.value(QStringLiteral("deviceId"));
    const QJsonValue folder = object.value(QStringLiteral("sourceFolderPath"));
    if (!item.isObject() || !deviceId.isString())
        return std::nullopt;
    if (!folder.isUndefined() && !folder.isNull() && !folder.isString())
        return std::nullopt;
    std::optional<FileItem> fileItem = FileItem::fromJson(item.toObject());
    if (!fileItem)
        return std::nullopt;
    return PhoneItemTransferable{*std::move(fileItem), deviceId.toString(), folder.toString()};
}

QMimeData* PhoneItemTransferable::toMimeData(const QList<PhoneItemTransferable>& items)
{
    QByteArrayList lines;
    lines.reserve(items.size());
    for (const PhoneItemTransferable& item : items)
        lines.append(item.toJson());
    auto* data = new QMimeData;
    data->setData(mimeType, lines.join('\n'));
    return data;
}

QList<PhoneItemTransferable> PhoneItemTransferable::fromMimeData(const QMimeData& data)
{
    QList<PhoneItemTransferable> items;
    if (!data.hasFormat(mimeType))
        return items;
    const QByteArray bytes = data.data(mimeType);
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        if (std::optional<PhoneItemTransferable> item = fromJson(line))
            items.append(*std::move(item));
    }
    return items;
}

} // namespace qb
