#include "core/device/device_model.h"

#include <QJsonValue>
#include <QTimeZone>

#include <cmath>

namespace qb {

namespace {

const QDateTime& referenceDate()
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return reference;
}

std::optional<qint64> integerFrom(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() answers its default for a fraction or an out-of-range number; two different
    // defaults tell that apart from a stored 0 or 1.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

} // namespace

size_t qHash(const StorageRoot& root, size_t seed)
{
    return qHashMulti(seed, root.id, root.name, root.repositoryPath, root.capacityBytes.has_value(),
                      root.capacityBytes.value_or(0), root.availableBytes.has_value(),
                      root.availableBytes.value_or(0));
}

QString Device::text(ConnectionType type)
{
    switch (type) {
    case ConnectionType::UsbMTP:
        return QStringLiteral("USB (MTP)");
    case ConnectionType::WifiWebDAV:
        return QStringLiteral("Wi-Fi");
    case ConnectionType::Bluetooth:
        return QStringLiteral("Bluetooth");
    case ConnectionType::Adb:
        return QStringLiteral("ADB");
    }
    return {};
}

std::optional<Device::ConnectionType> Device::connectionTypeFromText(const QString& text)
{
    for (ConnectionType type : allConnectionTypes()) {
        if (Device::text(type) == text)
            return type;
    }
    return std::nullopt;
}

QList<Device::ConnectionType> Device::allConnectionTypes()
{
    return {ConnectionType::UsbMTP, ConnectionType::WifiWebDAV, ConnectionType::Bluetooth,
            ConnectionType::Adb};
}

size_t qHash(const Device& device, size_t seed)
{
    return qHash(device.id, seed);
}

DeviceEvent DeviceEvent::connected(Device device)
{
    return DeviceEvent{Kind::Connected, std::move(device), {}};
}

DeviceEvent DeviceEvent::disconnected(QString deviceId)
{
    return DeviceEvent{Kind::Disconnected, {}, std::move(deviceId)};
}

DeviceEvent DeviceEvent::updated(Device device)
{
    return DeviceEvent{Kind::Updated, std::move(device), {}};
}

QString fileSymbolName(const QString& fileName, bool androidPackages)
{
    const QString lastComponent = fileName.section(QLatin1Char('/'), -1);
    const qsizetype dot = lastComponent.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QStringLiteral("doc");
    const QString ext = lastComponent.mid(dot + 1).toLower();
    static const QList<std::pair<QStringList, QString>> groups = {
        {{"jpg", "jpeg", "png", "gif", "heic", "webp"}, QStringLiteral("photo")},
        {{"mp4", "mov", "avi", "mkv"}, QStringLiteral("film")},
        {{"mp3", "aac", "flac", "ogg", "m4a"}, QStringLiteral("music.note")},
        {{"pdf"}, QStringLiteral("doc.richtext")},
        {{"zip", "rar", "7z", "tar", "gz"}, QStringLiteral("archivebox")},
    };
    for (const auto& [extensions, symbol] : groups) {
        if (extensions.contains(ext))
            return symbol;
    }
    if (androidPackages && ext == QLatin1String("apk"))
        return QStringLiteral("app.badge");
    return QStringLiteral("doc");
}

QString FileItem::iconName() const
{
    return isDirectory ? QStringLiteral("folder.fill") : fileSymbolName(name, true);
}

QJsonObject FileItem::toJson() const
{
    QJsonObject json{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("path"), path},
        {QStringLiteral("isDirectory"), isDirectory},
    };
    if (size)
        json.insert(QStringLiteral("size"), QJsonValue(*size));
    if (modifiedAt)
        json.insert(QStringLiteral("modifiedAt"),
                    static_cast<double>(referenceDate().msecsTo(*modifiedAt)) / 1000.0);
    if (mimeType)
        json.insert(QStringLiteral("mimeType"), *mimeType);
    return json;
}

std::optional<FileItem> FileItem::fromJson(const QJsonObject& json)
{
    const QJsonValue id = json.value(QStringLiteral("id"));
    const QJsonValue name = json.value(QStringLiteral("name"));
    const QJsonValue path = json.value(QStringLiteral("path"));
    const QJsonValue isDirectory = json.value(QStringLiteral("isDirectory"));
    if (!id.isString() || !name.isString() || !path.isString() || !isDirectory.isBool())
        return std::nullopt;

    FileItem item;
    item.id = id.toString();
    item.name = name.toString();
    item.path = path.toString();
    item.isDirectory = isDirectory.toBool();

    // An optional key that is present must hold its type, or the whole item is rejected.
    const QJsonValue size = json.value(QStringLiteral("size"));
    if (!size.isUndefined() && !size.isNull()) {
        item.size = integerFrom(size);
        if (!item.size)
            return std::nullopt;
    }
    const QJsonValue modifiedAt = json.value(QStringLiteral("modifiedAt"));
    if (!modifiedAt.isUndefined() && !modifiedAt.isNull()) {
        const double seconds = modifiedAt.toDouble(std::nan(""));
        if (!modifiedAt.isDouble() || !std::isfinite(seconds) || std::fabs(seconds) > 1.0e13)
            return std::nullopt;
        item.modifiedAt =
            referenceDate().addMSecs(static_cast<qint64>(std::llround(seconds * 1000)));
    }
    const QJsonValue mimeType = json.value(QStringLiteral("mimeType"));
    if (!mimeType.isUndefined() && !mimeType.isNull()) {
        if (!mimeType.isString())
            return std::nullopt;
        item.mimeType = mimeType.toString();
    }
    return item;
}

size_t qHash(const FileItem& item, size_t seed)
{
    return qHash(item.id, seed);
}

} // namespace qb
