#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

#include <functional>
#include <optional>

namespace qb {

// One storage of a phone.
struct StorageRoot
{
    QString id;
    QString name;
    QString repositoryPath; // the storage id followed by "/0"
    std::optional<qint64> capacityBytes;
    std::optional<qint64> availableBytes;

    bool operator==(const StorageRoot&) const = default;
};

size_t qHash(const StorageRoot& root, size_t seed = 0);

// A connected phone. Equal and hashed by id alone, so a renamed phone stays the same element
// of a set, a selection or a list diff.
struct Device
{
    enum class ConnectionType { UsbMTP, WifiWebDAV, Bluetooth, Adb };
    static QString text(ConnectionType type);
    // Only the four exact texts, case-sensitive.
    static std::optional<ConnectionType> connectionTypeFromText(const QString& text);
    static QList<ConnectionType> allConnectionTypes();

    QString id;
    QString displayName;
    ConnectionType connectionType = ConnectionType::UsbMTP;
    QList<StorageRoot> storageRoots;
    bool isConnected = true;
    // Which attachment of the phone this is: the device manager numbers each one it reports. The
    // id names a bus location and device number, which Linux hands out again once a phone is
    // pulled; this number tells a later phone with the same id apart. 0: not known.
    quint64 attachment = 0;

    bool operator==(const Device& other) const { return id == other.id; }
};

size_t qHash(const Device& device, size_t seed = 0);

// A change on the USB bus.
struct DeviceEvent
{
    enum class Kind { Connected, Disconnected, Updated };
    Kind kind = Kind::Connected;
    Device device;    // Connected, Updated
    QString deviceId; // Disconnected

    static DeviceEvent connected(Device device);
    static DeviceEvent disconnected(QString deviceId);
    static DeviceEvent updated(Device device);
};

// One file or folder on a phone; id and path are the phone path "storage/object".
struct FileItem
{
    QString id;
    QString name;
    QString path;
    bool isDirectory = false;
    std::optional<qint64> size;
    std::optional<QDateTime> modifiedAt;
    std::optional<QString> mimeType;

    bool operator==(const FileItem& other) const { return id == other.id; }

    // Symbol name shown for the item; only the last extension of the name counts.
    QString iconName() const;

    // Optional fields are left out when absent. Dates are seconds since 2001-01-01 UTC.
    QJsonObject toJson() const;
    static std::optional<FileItem> fromJson(const QJsonObject& json);
};

size_t qHash(const FileItem& item, size_t seed = 0);

// The symbol of a file by the last extension of its name, lower-cased; "doc" when none fits.
// Only the phone's listings show Android packages (apk) with a symbol of their own.
QString fileSymbolName(const QString& fileName, bool androidPackages);

} // namespace qb

template <> struct std::hash<qb::Device>
{
    size_t operator()(const qb::Device& d) const noexcept { return qHash(d.id); }
};

template <> struct std::hash<qb::FileItem>
{
    size_t operator()(const qb::FileItem& f) const noexcept { return qHash(f.id); }
};

Q_DECLARE_METATYPE(qb::StorageRoot)
Q_DECLARE_METATYPE(qb::Device)
Q_DECLARE_METATYPE(qb::DeviceEvent)
Q_DECLARE_METATYPE(qb::FileItem)
