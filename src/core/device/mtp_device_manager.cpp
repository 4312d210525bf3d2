#include "core/device/mtp_device_manager.h"

#include "platform/logger.h"
#include "platform/usb_hotplug_source.h"
#include "platform/when_finished.h"

#include <QSet>
#include <QtConcurrent>

#include <mutex>

namespace qb {

// What the pool threads share with the manager. Held by shared pointer so that a listing still
// running when the manager goes away finds it intact; its events then go to a finished stream.
struct MTPDeviceManager::State
{
    explicit State(std::shared_ptr<DeviceLister> deviceLister) : lister(std::move(deviceLister)) {}

    std::optional<QList<ListedDevice>> list();
    QList<Device> scan();
    void rescan();

    QList<Device> known() const
    {
        std::lock_guard guard(tableMutex);
        return connectedDevices;
    }
    bool isTableEmpty() const
    {
        std::lock_guard guard(tableMutex);
        return connectedDevices.isEmpty();
    }
    // Enters the device under its id and returns it with its attachment number: the one it
    // has when the id is known, a new one when it arrives.
    Device store(Device device);
    void remove(const QString& id);

    std::shared_ptr<DeviceEventStream> currentStream() const
    {
        std::lock_guard guard(streamMutex);
        return stream;
    }
    void yield(const DeviceEvent& event) { currentStream()->yield(event); }
    void renewStream();

    const std::shared_ptr<DeviceLister> lister;
    const Logger log = Logger::mtp();

    // One look at the bus at a time, so that overlapping rescans cannot report a change twice.
    std::mutex scanMutex;
    bool lastListingFailed = false; // guarded by scanMutex

    // Guards connectedDevices only, and only for one read, copy, insertion or removal.
    mutable std::mutex tableMutex;
    QList<Device> connectedDevices;
    quint64 lastAttachment = 0;

    mutable std::mutex streamMutex;
    std::shared_ptr<DeviceEventStream> stream = std::make_shared<DeviceEventStream>();
};

std::optional<QList<ListedDevice>> MTPDeviceManager::State::list()
{
    std::optional<QList<ListedDevice>> listing;
    try {
        listing = lister->listDevices();
    } catch (...) {
        listing.reset();
    }
    // Said once per run of failures: the poll may meet the same failure every few seconds.
    if (!listing && !lastListingFailed) {
        log.warning(QStringLiteral("Could not list the USB devices"));
    }
    lastListingFailed = !listing.has_value();
    return listing;
}

QList<Device> MTPDeviceManager::State::scan()
{
    std::lock_guard scanGuard(scanMutex);
    const auto listing = list();
    QList<Device> devices;
    if (!listing) {
        return devices;
    }
    for (const ListedDevice& info : *listing) {
        const Device device = store(makeDevice(info));
        yield(DeviceEvent::connected(device));
        devices.append(device);
    }
    return devices;
}

void MTPDeviceManager::State::rescan()
{
    std::lock_guard scanGuard(scanMutex);
    const auto listing = list();
    // A failed listing says nothing about which phones left: reporting them all as detached
    // would drop their open repositories.
    if (!listing) {
        return;
    }
    QSet<QString> listedIds;
    for (const ListedDevice& info : *listing) {
        listedIds.insert(info.id);
    }
    const QList<Device> snapshot = known();
    QSet<QString> snapshotIds;
    for (const Device& device : snapshot) {
        snapshotIds.insert(device.id);
    }

    for (const Device& device : snapshot) {
        if (!listedIds.contains(device.id)) {
            remove(device.id);
            yield(DeviceEvent::disconnected(device.id));
            log.info(QStringLiteral("Device disconnected: %1"), {device.id});
        }
    }
    for (const ListedDevice& info : *listing) {
        if (!snapshotIds.contains(info.id)) {
            const Device device = store(makeDevice(info));
            yield(DeviceEvent::connected(device));
            log.info(QStringLiteral("Device connected: %1"), {device.displayName});
        }
    }
}

Device MTPDeviceManager::State::store(Device device)
{
    std::lock_guard guard(tableMutex);
    const qsizetype index = connectedDevices.indexOf(device); // by id
    if (index >= 0) {
        device.attachment = connectedDevices.at(index).attachment;
        connectedDevices[index] = device;
    } else {
        device.attachment = ++lastAttachment;
        connectedDevices.append(device);
    }
    return device;
}

void MTPDeviceManager::State::remove(const QString& id)
{
    std::lock_guard guard(tableMutex);
    connectedDevices.removeIf([&id](const Device& device) { return device.id == id; });
}

void MTPDeviceManager::State::renewStream()
{
    std::shared_ptr<DeviceEventStream> finished;
    {
        std::lock_guard guard(streamMutex);
        finished = std::exchange(stream, std::make_shared<DeviceEventStream>());
    }
    finished->finish();
}

MTPDeviceManager::MTPDeviceManager(std::shared_ptr<DeviceLister> lister,
                                   std::unique_ptr<UsbHotplugSource> hotplug, Timing timing,
                                   QObject* parent)
    : QObject(parent), m_state(std::make_shared<State>(std::move(lister))),
      m_hotplug(std::move(hotplug))
{
    m_debounceTimer.setSingleShot(true);
    m_debounceTimer.setInterval(timing.debounce);
    m_pollTimer.setSingleShot(true);
    m_pollTimer.setInterval(timing.poll);
    connect(&m_debounceTimer, &QTimer::timeout, this,
            [state = m_state] { (void)QtConcurrent::run([state] { state->rescan(); }); });
    connect(&m_pollTimer, &QTimer::timeout, this, &MTPDeviceManager::pollOnce);
    if (m_hotplug) {
        connect(m_hotplug.get(), &UsbHotplugSource::deviceChanged, this,
                &MTPDeviceManager::onDeviceChanged);
    }
}

MTPDeviceManager::MTPDeviceManager(std::shared_ptr<DeviceLister> lister,
                                   std::unique_ptr<UsbHotplugSource> hotplug, QObject* parent)
    : MTPDeviceManager(std::move(lister), std::move(hotplug), Timing{}, parent)
{}

MTPDeviceManager::~MTPDeviceManager()
{
    if (m_monitoring) {
        stopMonitoring();
    } else {
        teardown();
    }
    // The consumer's loop ends; a listing still running yields into the finished stream.
    m_state->currentStream()->finish();
}

QFuture<void> MTPDeviceManager::startMonitoring()
{
    if (m_monitoring) {
        return QtFuture::makeReadyFuture();
    }
    m_state->log.info(QStringLiteral("MTPDeviceManager: starting USB monitoring"));
    m_monitoring = true;
    const quint64 generation = ++m_generation;

    if (m_hotplug && m_hotplug->start()) {
        m_notificationsArmed = true;
    } else {
        m_state->log.error(QStringLiteral("Failed to set up USB hot-plug notifications"));
    }

    const QFuture<QList<Device>> scan = scanNow();
    whenFinished(this, scan, [this, generation](const QFuture<QList<Device>>&) {
        // A stop that came while the initial scan ran must not leave a poll behind.
        if (generation == m_generation) {
            m_pollTimer.start();
        }
    });
    return QFuture<void>(scan);
}

void MTPDeviceManager::stopMonitoring()
{
    m_state->log.info(QStringLiteral("MTPDeviceManager: stopping USB monitoring"));
    teardown();
    m_state->renewStream();
}

void MTPDeviceManager::teardown()
{
    if (m_hotplug) {
        m_hotplug->stop();
    }
    m_notificationsArmed = false;
    m_debounceTimer.stop();
    m_pollTimer.stop();
    m_monitoring = false;
    ++m_generation;
}

std::shared_ptr<DeviceEventStream> MTPDeviceManager::deviceEvents() const
{
    return m_state->currentStream();
}

QFuture<QList<Device>> MTPDeviceManager::scanNow()
{
    return QtConcurrent::run([state = m_state] { return state->scan(); });
}

QList<Device> MTPDeviceManager::knownDevices() const
{
    return m_state->known();
}

void MTPDeviceManager::onDeviceChanged()
{
    // Each notification restarts the delay, so a burst gives one listing after its last one.
    if (m_notificationsArmed) {
        m_debounceTimer.start();
    }
}

void MTPDeviceManager::pollOnce()
{
    if (!m_state->isTableEmpty()) {
        m_pollTimer.start();
        return;
    }
    const quint64 generation = m_generation;
    whenFinished(this, QtConcurrent::run([state = m_state] { state->rescan(); }),
                 [this, generation](const QFuture<void>&) {
                     if (generation == m_generation) {
                         m_pollTimer.start();
                     }
                 });
}

namespace {
bool isTrimmedSpace(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}
} // namespace

QString MTPDeviceManager::displayName(const ListedDevice& info)
{
    if (!info.friendlyName.isEmpty()) {
        return info.friendlyName;
    }
    const QString joined = info.manufacturer + u' ' + info.model;
    qsizetype begin = 0;
    qsizetype end = joined.size();
    while (begin < end && isTrimmedSpace(joined.at(begin))) {
        ++begin;
    }
    while (end > begin && isTrimmedSpace(joined.at(end - 1))) {
        --end;
    }
    return joined.mid(begin, end - begin);
}

Device MTPDeviceManager::makeDevice(const ListedDevice& info)
{
    Device device;
    device.id = info.id;
    device.displayName = displayName(info);
    device.connectionType = Device::ConnectionType::UsbMTP;
    device.isConnected = true;
    return device;
}

} // namespace qb
