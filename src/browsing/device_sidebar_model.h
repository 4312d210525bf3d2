#pragma once

#include "core/device/device_model.h"
#include "wifi/wifi_peer.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QList>

#include <optional>

namespace qb {

class DeviceSidebarController;
struct RowEdits;

// The sidebar's rows: three sections ("USB Devices", "Wi-Fi Devices", "Actions"); a USB phone's
// storages are its children. Changes of the phone and Wi-Fi lists arrive as row insertions and
// removals by id, so the view keeps its selection and scroll position.
class DeviceSidebarModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum class Kind { Section, Placeholder, Device, Storage, Peer, SetupGuide, Refresh };
    enum Section { UsbSection, WifiSection, ActionsSection };
    enum Role {
        KindRole = Qt::UserRole + 1,
        SubtitleRole,    // connection type, host, or free space of a storage
        SymbolRole,      // symbol name of the row's image
        PinRole,         // PIN of an unpaired Wi-Fi phone, else empty
        HighlightedRole, // selected storage or Wi-Fi phone
        IdRole,          // phone id, storage id or Wi-Fi host
    };

    explicit DeviceSidebarModel(DeviceSidebarController& controller, QObject* parent = nullptr);

    static Kind kindOf(const QModelIndex& index);
    QModelIndex deviceIndex(const QString& deviceId) const;
    std::optional<Device> deviceAt(const QModelIndex& index) const;
    std::optional<StorageRoot> storageAt(const QModelIndex& index) const;
    std::optional<WiFiPeer> peerAt(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    RowEdits rowEdits(int section);
    void syncDevices();
    void syncPeers();
    void updateDevice(int row, const Device& next);
    void touchSection(int section, int column = 0);
    QVariant deviceData(const Device& device, int role) const;
    QVariant storageData(const Device& device, const StorageRoot& root, int role) const;
    QVariant peerData(const WiFiPeer& peer, int role) const;
    QVariant actionData(Kind kind, int role) const;

    quintptr keyOf(const QString& deviceId) const;
    int rowOfKey(quintptr key) const;

    DeviceSidebarController& m_controller;
    mutable QHash<QString, quintptr> m_keys;
    QList<Device> m_devices;
    QList<WiFiPeer> m_peers;
};

} // namespace qb
