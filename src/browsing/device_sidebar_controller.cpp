#include "browsing/device_sidebar_controller.h"

#include "core/device/device_list_view_model.h"
#include "platform/when_finished.h"
#include "ui_common/command_bus.h"
#include "wifi/wifi_peer_registry.h"

namespace qb {

DeviceSidebarController::DeviceSidebarController(DeviceListViewModel* devices,
                                                 WiFiPeerRegistry* peers, QObject* parent)
    : QObject(parent), m_devices(devices), m_peers(peers)
{
    if (!m_devices)
        return;
    if (m_devices->selectedDevice())
        m_selectedId = m_devices->selectedDevice()->id;
    connect(m_devices, &DeviceListViewModel::selectedDeviceChanged, this,
            &DeviceSidebarController::handleSelectionChange);
}

DeviceSidebarController::~DeviceSidebarController()
{
    handleDisappear();
}

void DeviceSidebarController::handleSelectionChange()
{
    // The view model also signals when the selected phone's storages arrive; only another
    // phone (or none) counts as a change.
    const std::optional<Device>& selected = m_devices->selectedDevice();
    const std::optional<QString> id =
        selected ? std::optional<QString>(selected->id) : std::nullopt;
    if (id == m_selectedId)
        return;
    m_selectedId = id;
    if (selected)
        m_devices->selectDevice(*selected);
}

void DeviceSidebarController::selectDevice(const Device& device)
{
    if (m_devices)
        m_devices->setSelectedDevice(device);
}

void DeviceSidebarController::selectStorageRoot(const QString& deviceId, const StorageRoot& root)
{
    if (!m_devices)
        return;
    const std::optional<Device>& selected = m_devices->selectedDevice();
    if (!selected || selected->id != deviceId) {
        const QList<Device>& known = m_devices->devices();
        const auto found = std::find_if(known.begin(), known.end(),
                                        [&](const Device& d) { return d.id == deviceId; });
        if (found == known.end())
            return; // the phone has gone
        m_devices->setSelectedDevice(*found);
    }
    m_devices->setSelectedStorageRoot(root);
}

void DeviceSidebarController::selectPeer(const WiFiPeer& peer)
{
    if (m_peers)
        m_peers->setSelectedPeerHost(peer.host);
    if (m_devices)
        m_devices->setSelectedDevice(std::nullopt);
    CommandBus::shared().post(Notifications::showSetupGuide, false);
}

void DeviceSidebarController::reconnectPeer(const WiFiPeer& peer)
{
    if (!m_peers)
        return;
    m_peers->regeneratePIN(peer.host);
    m_peers->setSelectedPeerHost(peer.host);
}

void DeviceSidebarController::forgetPeer(const WiFiPeer& peer)
{
    if (m_peers)
        m_peers->remove(peer.host);
}

void DeviceSidebarController::openSetupGuide()
{
    if (m_devices) {
        m_devices->setSelectedDevice(std::nullopt);
        m_devices->setSelectedStorageRoot(std::nullopt);
    }
    if (m_peers)
        m_peers->setSelectedPeerHost(std::nullopt);
    CommandBus::shared().post(Notifications::showSetupGuide, true);
}

void DeviceSidebarController::runRefresh()
{
    if (!m_devices || m_refreshing)
        return;
    setRefreshing(true);
    whenFinished(this, m_devices->refreshDevices(),
                 [this](const QFuture<void>&) { setRefreshing(false); });
}

void DeviceSidebarController::setRefreshing(bool refreshing)
{
    if (m_refreshing == refreshing)
        return;
    m_refreshing = refreshing;
    emit refreshingChanged(refreshing);
}

void DeviceSidebarController::handleAppear()
{
    m_shown = true;
    if (m_devices)
        m_devices->startMonitoring();
}

void DeviceSidebarController::handleDisappear()
{
    if (!m_shown)
        return;
    m_shown = false;
    if (m_devices)
        m_devices->stopMonitoring();
}

} // namespace qb
