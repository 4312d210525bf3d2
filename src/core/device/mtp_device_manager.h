#pragma once

#include "core/device/device_event_stream.h"
#include "core/device/device_lister.h"
#include "core/device/device_model.h"

#include <QFuture>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

namespace qb {

class UsbHotplugSource;

// Finds the phones attached over USB and reports every change as a DeviceEvent on the stream of
// the current monitoring period. It never opens a device: it lists the bus and keeps a table of
// the devices it has reported. It looks at the bus after a USB attach or detach (debounced), on a
// poll that runs only while it knows no device, and on an explicit scan. Lives on the GUI thread;
// listings run on the thread pool, one at a time.
class MTPDeviceManager : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        std::chrono::milliseconds debounce{400};
        std::chrono::milliseconds poll{3000};
    };

    // `hotplug` may be null: monitoring then rests on the poll and on explicit scans.
    MTPDeviceManager(std::shared_ptr<DeviceLister> lister,
                     std::unique_ptr<UsbHotplugSource> hotplug, Timing timing,
                     QObject* parent = nullptr);
    MTPDeviceManager(std::shared_ptr<DeviceLister> lister,
                     std::unique_ptr<UsbHotplugSource> hotplug, QObject* parent = nullptr);
    // Stops monitoring first, so no notification or timer outlives the manager.
    ~MTPDeviceManager() override;

    // Begins a monitoring period: notifications, an initial scan reporting every device on the bus
    // as connected, then the poll. The future finishes after the initial scan. A second call
    // without a stop in between does nothing.
    QFuture<void> startMonitoring();
    // Ends the monitoring period: notifications and timers stop, the current event stream
    // finishes and a fresh one takes its place. The table of known devices is kept.
    void stopMonitoring();
    bool isMonitoring() const { return m_monitoring; }

    // The stream of the current monitoring period, for its one consumer.
    std::shared_ptr<DeviceEventStream> deviceEvents() const;

    // One listing that reports every device found as connected (known or not) and returns them in
    // bus order; never fails (a failed listing gives an empty list).
    QFuture<QList<Device>> scanNow();

    // The devices reported as attached and not yet as detached, in order of arrival.
    QList<Device> knownDevices() const;

    static QString displayName(const ListedDevice& info);
    static Device makeDevice(const ListedDevice& info);

private:
    struct State;

    void onDeviceChanged();
    void pollOnce();
    void teardown();

    std::shared_ptr<State> m_state;
    std::unique_ptr<UsbHotplugSource> m_hotplug;
    QTimer m_debounceTimer;
    QTimer m_pollTimer;
    bool m_notificationsArmed = false;
    bool m_monitoring = false;
    // Bumped by every start and stop: work finishing after a stop (an initial scan, a polled
    // rescan) must not restart the poll of a period that is over.
    quint64 m_generation = 0;
};

} // namespace qb
