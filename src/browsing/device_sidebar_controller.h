#pragma once

#include "core/device/device_list_view_model.h"
#include "wifi/wifi_peer_registry.h"

#include <QObject>
#include <QPointer>

#include <optional>

namespace qb {

// What the device sidebar does, without widgets: it writes the selections that live in the device
// list view model and the Wi-Fi registry, opens a USB phone when the selected phone changes, runs
// USB monitoring while the sidebar is shown, and steers the setup guide.
class DeviceSidebarController : public QObject
{
    Q_OBJECT

public:
    DeviceSidebarController(DeviceListViewModel* devices, WiFiPeerRegistry* peers,
                            QObject* parent = nullptr);
    ~DeviceSidebarController() override;

    DeviceListViewModel* devices() const { return m_devices; }
    WiFiPeerRegistry* peers() const { return m_peers; }
    bool isRefreshing() const { return m_refreshing; }

    // A click on a USB phone's row.
    void selectDevice(const Device& device);
    // A click on a storage row. A storage of another phone selects that phone first, so the
    // selected storage always belongs to the selected phone.
    void selectStorageRoot(const QString& deviceId, const StorageRoot& root);
    void selectPeer(const WiFiPeer& peer);
    void reconnectPeer(const WiFiPeer& peer);
    void forgetPeer(const WiFiPeer& peer);
    void openSetupGuide();
    void runRefresh();

    // The sidebar came on screen, or left it for good (not a minimised window).
    void handleAppear();
    void handleDisappear();

signals:
    void refreshingChanged(bool refreshing);

private:
    void handleSelectionChange();
    void setRefreshing(bool refreshing);

    QPointer<DeviceListViewModel> m_devices;
    QPointer<WiFiPeerRegistry> m_peers;
    std::optional<QString> m_selectedId; // the selection last seen, by phone id
    bool m_refreshing = false;
    bool m_shown = false;
};

} // namespace qb
