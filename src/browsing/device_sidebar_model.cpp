#include "browsing/device_sidebar_model.h"

#include "browsing/device_sidebar_controller.h"
#include "core/device/device_list_view_model.h"
#include "ui_common/byte_count_format.h"
#include "ui_common/plain_text_tooltip.h"
#include "wifi/wifi_peer_registry.h"
#include "wifi_ui/wifi_formatters.h"

#include <functional>

namespace qb {

// What syncRows() needs of the model: its protected row notifications, reached through lambdas.
struct RowEdits
{
    std::function<void()> reset;
    std::function<void(int first, int last, bool insert)> begin;
    std::function<void(bool insert)> end;
};

namespace {

// internalId of an index: 0 for a section, 1 + section for a section's row, and for a storage row
// the key of its phone (kStorageBase and up; keys follow the phone, not its row, so a storage
// row's parent stays right when phones come and go above it).
constexpr quintptr kStorageBase = 0x100;

QString connectionSymbol(Device::ConnectionType type)
{
    switch (type) {
    case Device::ConnectionType::UsbMTP:
        return QStringLiteral("cable.connector");
    case Device::ConnectionType::WifiWebDAV:
        return QStringLiteral("wifi");
    case Device::ConnectionType::Bluetooth:
        return QStringLiteral("bluetooth");
    case Device::ConnectionType::Adb:
        return QStringLiteral("terminal");
    }
    return {};
}

// Replaces `current` by `next` as row removals and insertions, then updates the rows that stayed.
// A placeholder row stands in for an empty list, and the rows that stay may have changed their
// order: those rare cases reset the model instead.
template <typename T, typename Id, typename Update>
void syncRows(const RowEdits& edits, QList<T>& current, const QList<T>& next, Id id, Update update)
{
    QStringList before, after;
    for (const T& item : current)
        before.append(id(item));
    for (const T& item : next)
        after.append(id(item));
    QStringList keptBefore, keptAfter;
    for (const QString& key : before) {
        if (after.contains(key))
            keptBefore.append(key);
    }
    for (const QString& key : after) {
        if (before.contains(key))
            keptAfter.append(key);
    }
    if (current.isEmpty() || next.isEmpty() || keptBefore != keptAfter) {
        current = next;
        edits.reset();
        return;
    }
    for (qsizetype i = current.size() - 1; i >= 0; --i) {
        if (!after.contains(id(current[i]))) {
            edits.begin(int(i), int(i), false);
            current.removeAt(i);
            edits.end(false);
        }
    }
    for (qsizetype i = 0; i < next.size(); ++i) {
        if (i >= current.size() || id(current[i]) != id(next[i])) {
            edits.begin(int(i), int(i), true);
            current.insert(i, next[i]);
            edits.end(true);
        } else {
            update(int(i), next[i]);
        }
    }
}

} // namespace

DeviceSidebarModel::DeviceSidebarModel(DeviceSidebarController& controller, QObject* parent)
    : QAbstractItemModel(parent), m_controller(controller)
{
    if (DeviceListViewModel* devices = controller.devices()) {
        m_devices = devices->devices();
        connect(devices, &DeviceListViewModel::devicesChanged, this,
                &DeviceSidebarModel::syncDevices);
        // The highlighted storage row follows the selected storage and the phone it belongs to.
        for (auto signal : {&DeviceListViewModel::selectedStorageRootChanged,
                            &DeviceListViewModel::selectedDeviceChanged})
            connect(devices, signal, this, [this] {
                for (int row = 0; row < m_devices.size(); ++row)
                    touchSection(UsbSection, row);
            });
    }
    if (WiFiPeerRegistry* peers = controller.peers()) {
        m_peers = peers->peers();
        connect(peers, &WiFiPeerRegistry::peersChanged, this, &DeviceSidebarModel::syncPeers);
        connect(peers, &WiFiPeerRegistry::selectedPeerHostChanged, this,
                [this] { touchSection(WifiSection); });
    }
    connect(&controller, &DeviceSidebarController::refreshingChanged, this,
            [this] { touchSection(ActionsSection); });
}

RowEdits DeviceSidebarModel::rowEdits(int section)
{
    const QModelIndex parent = index(section, 0);
    return RowEdits{[this] {
                        beginResetModel();
                        endResetModel();
                    },
                    [this, parent](int first, int last, bool insert) {
                        insert ? beginInsertRows(parent, first, last)
                               : beginRemoveRows(parent, first, last);
                    },
                    [this](bool insert) {
                        insert ? endInsertRows() : endRemoveRows();
                    }};
}

void DeviceSidebarModel::syncDevices()
{
    syncRows(
        rowEdits(UsbSection), m_devices, m_controller.devices()->devices(),
        [](const Device& d) { return d.id; },
        [this](int row, const Device& next) { updateDevice(row, next); });
}

void DeviceSidebarModel::updateDevice(int row, const Device& next)
{
    const QModelIndex device = index(row, 0, index(UsbSection, 0));
    const qsizetype before = m_devices[row].storageRoots.size();
    if (before != next.storageRoots.size()) {
        if (before > 0) {
            beginRemoveRows(device, 0, int(before) - 1);
            m_devices[row].storageRoots.clear();
            endRemoveRows();
        }
        if (!next.storageRoots.isEmpty()) {
            beginInsertRows(device, 0, int(next.storageRoots.size()) - 1);
            m_devices[row].storageRoots = next.storageRoots;
            endInsertRows();
        }
    }
    m_devices[row] = next;
    emit dataChanged(device, device);
    if (!next.storageRoots.isEmpty())
        emit dataChanged(index(0, 0, device), index(int(next.storageRoots.size()) - 1, 0, device));
}

void DeviceSidebarModel::syncPeers()
{
    syncRows(
        rowEdits(WifiSection), m_peers, m_controller.peers()->peers(),
        [](const WiFiPeer& p) { return p.host; },
        [this](int row, const WiFiPeer& next) {
            m_peers[row] = next;
            const QModelIndex changed = index(row, 0, index(WifiSection, 0));
            emit dataChanged(changed, changed);
        });
}

void DeviceSidebarModel::touchSection(int section, int deviceRow)
{
    if (section == UsbSection) {
        const QModelIndex device = index(deviceRow, 0, index(UsbSection, 0));
        const int count = rowCount(device);
        if (count > 0)
            emit dataChanged(index(0, 0, device), index(count - 1, 0, device));
        return;
    }
    const QModelIndex parent = index(section, 0);
    emit dataChanged(index(0, 0, parent), index(rowCount(parent) - 1, 0, parent));
}

DeviceSidebarModel::Kind DeviceSidebarModel::kindOf(const QModelIndex& index)
{
    return index.isValid() ? Kind(index.data(KindRole).toInt()) : Kind::Section;
}

QModelIndex DeviceSidebarModel::deviceIndex(const QString& deviceId) const
{
    for (int row = 0; row < m_devices.size(); ++row) {
        if (m_devices[row].id == deviceId)
            return index(row, 0, index(UsbSection, 0));
    }
    return {};
}

std::optional<Device> DeviceSidebarModel::deviceAt(const QModelIndex& index) const
{
    if (kindOf(index) != Kind::Device)
        return std::nullopt;
    return m_devices.value(index.row());
}

std::optional<StorageRoot> DeviceSidebarModel::storageAt(const QModelIndex& index) const
{
    if (kindOf(index) != Kind::Storage)
        return std::nullopt;
    return m_devices.value(rowOfKey(index.internalId())).storageRoots.value(index.row());
}

std::optional<WiFiPeer> DeviceSidebarModel::peerAt(const QModelIndex& index) const
{
    if (kindOf(index) != Kind::Peer)
        return std::nullopt;
    return m_peers.value(index.row());
}

QModelIndex DeviceSidebarModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0 || row >= rowCount(parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, 0, quintptr(0));
    if (parent.internalId() == 0)
        return createIndex(row, 0, quintptr(1 + parent.row()));
    return createIndex(row, 0, keyOf(m_devices.value(parent.row()).id));
}

quintptr DeviceSidebarModel::keyOf(const QString& deviceId) const
{
    auto found = m_keys.constFind(deviceId);
    if (found == m_keys.constEnd())
        found = m_keys.insert(deviceId, kStorageBase + quintptr(m_keys.size()));
    return *found;
}

int DeviceSidebarModel::rowOfKey(quintptr key) const
{
    for (int row = 0; row < m_devices.size(); ++row) {
        if (m_keys.value(m_devices[row].id) == key)
            return row;
    }
    return -1;
}

QModelIndex DeviceSidebarModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == 0)
        return {};
    if (child.internalId() >= kStorageBase) {
        const int row = rowOfKey(child.internalId());
        return row < 0 ? QModelIndex() : createIndex(row, 0, quintptr(1 + UsbSection));
    }
    return createIndex(int(child.internalId() - 1), 0, quintptr(0));
}

int DeviceSidebarModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return 3;
    if (parent.internalId() == 0) {
        switch (parent.row()) {
        case UsbSection:
            return std::max<int>(1, m_devices.size());
        case WifiSection:
            return std::max<int>(1, m_peers.size());
        default:
            return 2;
        }
    }
    if (parent.internalId() == 1 + UsbSection && parent.row() < m_devices.size())
        return int(m_devices[parent.row()].storageRoots.size());
    return 0;
}

int DeviceSidebarModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant DeviceSidebarModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const quintptr id = index.internalId();
    if (id == 0) {
        if (role == KindRole)
            return int(Kind::Section);
        if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
            return {};
        static const char* const titles[] = {QT_TR_NOOP("USB Devices"), QT_TR_NOOP("Wi-Fi Devices"),
                                             QT_TR_NOOP("Actions")};
        return tr(titles[index.row()]);
    }
    if (id >= kStorageBase) {
        const Device device = m_devices.value(rowOfKey(id));
        return storageData(device, device.storageRoots.value(index.row()), role);
    }
    const int section = int(id - 1);
    if (section == ActionsSection)
        return actionData(index.row() == 0 ? Kind::SetupGuide : Kind::Refresh, role);
    const bool empty = section == UsbSection ? m_devices.isEmpty() : m_peers.isEmpty();
    if (!empty)
        return section == UsbSection ? deviceData(m_devices.value(index.row()), role)
                                     : peerData(m_peers.value(index.row()), role);
    switch (role) {
    case KindRole:
        return int(Kind::Placeholder);
    case Qt::DisplayRole:
        return section == UsbSection ? tr("No devices connected")
                                     : tr("Waiting for Companion app…");
    case SymbolRole:
        return section == UsbSection ? QStringLiteral("cable.connector.slash")
                                     : QStringLiteral("wifi");
    default:
        return {};
    }
}

QVariant DeviceSidebarModel::deviceData(const Device& device, int role) const
{
    switch (role) {
    case KindRole:
        return int(Kind::Device);
    case Qt::DisplayRole:
        return device.displayName;
    case Qt::ToolTipRole:
        return plainTextToolTip(device.displayName);
    case SubtitleRole:
        return Device::text(device.connectionType);
    case SymbolRole:
        return connectionSymbol(device.connectionType);
    case IdRole:
        return device.id;
    default:
        return {};
    }
}

QVariant DeviceSidebarModel::storageData(const Device& device, const StorageRoot& root,
                                         int role) const
{
    const DeviceListViewModel* devices = m_controller.devices();
    switch (role) {
    case KindRole:
        return int(Kind::Storage);
    case Qt::DisplayRole:
        return root.name;
    case Qt::ToolTipRole:
        return plainTextToolTip(root.name);
    case SubtitleRole:
        return root.availableBytes ? formatByteCount(*root.availableBytes) : QString();
    case SymbolRole:
        return QStringLiteral("internaldrive");
    case HighlightedRole:
        // Phones number their storages alike (65537 is usual), so the id alone would light up
        // the same storage of every phone; the selected storage belongs to the selected phone.
        return devices && devices->selectedStorageRoot() && devices->selectedDevice() &&
               devices->selectedDevice()->id == device.id &&
               devices->selectedStorageRoot()->id == root.id;
    case IdRole:
        return root.id;
    default:
        return {};
    }
}

QVariant DeviceSidebarModel::peerData(const WiFiPeer& peer, int role) const
{
    const WiFiPeerRegistry* peers = m_controller.peers();
    switch (role) {
    case KindRole:
        return int(Kind::Peer);
    case Qt::DisplayRole:
        return peer.name;
    case Qt::ToolTipRole:
        return plainTextToolTip(peer.name + QLatin1Char('\n') + peer.host);
    case Qt::AccessibleDescriptionRole:
        // A screen reader hears the PIN the row shows, not only the name.
        if (peer.token)
            return peer.host;
        return peer.host + QStringLiteral(", ") + tr("PIN %1").arg(formattedPIN(peer.pin));
    case SubtitleRole:
        return peer.host;
    case SymbolRole:
        return peer.token ? QStringLiteral("checkmark.shield.fill") : QStringLiteral("wifi");
    case PinRole:
        return peer.token ? QString() : peer.pin;
    case HighlightedRole:
        return peers && peers->selectedPeerHost() == peer.host;
    case IdRole:
        return peer.host;
    default:
        return {};
    }
}

QVariant DeviceSidebarModel::actionData(Kind kind, int role) const
{
    switch (role) {
    case KindRole:
        return int(kind);
    case Qt::DisplayRole:
        if (kind == Kind::SetupGuide)
            return tr("Show Setup Guide");
        return m_controller.isRefreshing() ? tr("Scanning…") : tr("Refresh Devices");
    case SymbolRole:
        return kind == Kind::SetupGuide ? QStringLiteral("questionmark.circle")
                                        : QStringLiteral("arrow.clockwise");
    default:
        return {};
    }
}

Qt::ItemFlags DeviceSidebarModel::flags(const QModelIndex& index) const
{
    switch (kindOf(index)) {
    case Kind::Device:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    case Kind::Refresh:
        return m_controller.isRefreshing() ? Qt::NoItemFlags
                                           : Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    case Kind::Storage:
    case Kind::Peer:
    case Kind::SetupGuide:
        return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    default:
        return Qt::ItemIsEnabled;
    }
}

} // namespace qb
