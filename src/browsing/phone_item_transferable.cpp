#include "browsing/phone_item_transferable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>

namespace qb {

QByteArray PhoneItemTransferable::toJson() const
{
    QJsonObject json{
        {QStringLiteral("fileItem"), fileItem.toJson()},
        {QStringLiteral("deviceId"), deviceId},
        {QStringLiteral("sourceFolderPath"), sourceFolderPath},
    };
    // As text: a JSON number cannot hold every 64-bit value.
    if (attachment != 0)
        json.insert(QStringLiteral("attachment"), QString::number(attachment));
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
    const QJsonValue attachmentText = object.value(QStringLiteral("attachment"));
    if (!item.isObject() || !deviceId.isString())
        return std::nullopt;
    if (!folder.isUndefined() && !folder.isNull() && !folder.isString())
        return std::nullopt;
    quint64 attachment = 0;
    if (!attachmentText.isUndefined()) {
        bool ok = false;
        attachment = attachmentText.toString().toULongLong(&ok);
        if (!ok)
            return std::nullopt;
    }
    std::optional<FileItem> fileItem = FileItem::fromJson(item.toObject());
    if (!fileItem)
        return std::nullopt;
    return PhoneItemTransferable{*std::move(fileItem), deviceId.toString(), folder.toString(),
                                 attachment};
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
