#pragma once

#include "core/device/device_event_stream.h"
#include "core/device/device_model.h"
#include "core/device/file_repository.h"
#include "core/device/mtp_client.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace qb {

class MTPDeviceManager;
class RepositoryFactory;

// The GUI-thread model behind the device sidebar and the phone browser: the USB phones reported
// by the device manager, the selected phone and storage, and one open repository per phone,
// kept until the phone is detached. It also hands the transfer engine a repository provider.
class DeviceListViewModel : public QObject
{
    Q_OBJECT

public:
    // Receives the provider once, shortly after construction. A callback rather than the engine
    // itself: the transfer library builds on this one, so this one cannot name the engine.
    using ProviderInstaller = std::function<void(RepositoryProvider)>;

    DeviceListViewModel(std::unique_ptr<MTPDeviceManager> manager,
                        std::shared_ptr<RepositoryFactory> repositoryFactory,
                        ProviderInstaller installProvider, QObject* parent = nullptr);
    ~DeviceListViewModel() override;

    // The application's instance: the bus listed through the bridge, libusb hot-plug
    // notifications, and MTPFileRepository instances opened with `clientOptions`.
    static std::unique_ptr<DeviceListViewModel> create(ProviderInstaller installProvider,
                                                       MTPClient::Options clientOptions,
                                                       QObject* parent = nullptr);

    const QList<Device>& devices() const { return m_devices; }
    const std::optional<Device>& selectedDevice() const { return m_selectedDevice; }
    void setSelectedDevice(const std::optional<Device>& device);
    const std::optional<StorageRoot>& selectedStorageRoot() const { return m_selectedStorageRoot; }
    void setSelectedStorageRoot(const std::optional<StorageRoot>& root);
    bool isScanning() const { return m_isScanning; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    void setErrorMessage(const std::optional<QString>& message);
    bool isMonitoring() const { return m_monitoring; }

    MTPDeviceManager* deviceManager() const { return m_manager.get(); }

    // The open repository of the phone, opening it on first use. Overlapping first requests
    // share one opening. A failure is not cached: the next request tries again. With an
    // attachment other than 0 the phone must be that attachment (Device::attachment): once it
    // has left, the request fails with MTPError::deviceNotFound(), even when another phone now
    // has its id.
    QFuture<std::shared_ptr<FileRepository>> repository(const QString& deviceId,
                                                        quint64 attachment = 0);
    // The cached repository, or null; and the ids of all cached repositories.
    std::shared_ptr<FileRepository> cachedRepository(const QString& deviceId) const;
    QStringList repositoryIds() const { return m_repositories.keys(); }

    // The provider installed in the engine: callable from any thread; fails with
    // FileRepositoryError::deviceNotConnected() once this view model is gone.
    RepositoryProvider repositoryProvider() const;

    // Starts consuming the manager's events; does nothing while a monitor is running.
    void startMonitoring();
    // What the sidebar does when it goes away: stop the manager, end the monitor, forget it.
    void stopMonitoring();
    // Applies one event of the manager.
    void handle(const DeviceEvent& event);
    // A manual scan; it only adds phones. Finishes when the scan is done.
    QFuture<void> refreshDevices();
    // Selects the phone and, in the background, opens it and loads its storages. The future
    // finishes when that work is done (whatever its outcome).
    QFuture<void> selectDevice(const Device& device);

signals:
    void devicesChanged();
    void selectedDeviceChanged();
    void selectedStorageRootChanged();
    void isScanningChanged();
    void errorMessageChanged();
    void repositoriesChanged();
    void monitoringChanged();

private:
    struct PendingOpen;
    struct Lifeline;

    void drainEvents(quint64 monitorGeneration);
    void finishOpen(const QString& deviceId, const std::shared_ptr<PendingOpen>& pending,
                    QFuture<std::shared_ptr<FileRepository>> opening);
    void applyStorageRoots(const QString& deviceId, const QList<StorageRoot>& roots);
    void reportFailure(std::exception_ptr error);
    void setIsScanning(bool scanning);
    qsizetype indexOfDevice(const QString& deviceId) const;

    QList<Device> m_devices;
    std::optional<Device> m_selectedDevice;
    std::optional<StorageRoot> m_selectedStorageRoot;
    bool m_isScanning = false;
    std::optional<QString> m_errorMessage;
    std::unique_ptr<MTPDeviceManager> m_manager;
    std::shared_ptr<RepositoryFactory> m_factory;
    QHash<QString, std::shared_ptr<FileRepository>> m_repositories;
    QHash<QString, std::shared_ptr<PendingOpen>> m_pendingOpens;

    bool m_monitoring = false;
    std::shared_ptr<DeviceEventStream> m_stream;
    // Bumped when a monitor starts or is stopped, so that a stopped monitor's late work is dropped.
    quint64 m_monitorGeneration = 0;

    std::shared_ptr<Lifeline> m_lifeline;
};

} // namespace qb
