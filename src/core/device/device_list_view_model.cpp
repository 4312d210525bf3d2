#include "core/device/device_list_view_model.h"

#include "core/device/mtp_device_lister.h"
#include "core/device/mtp_device_manager.h"
#include "core/device/mtp_error.h"
#include "core/device/mtp_repository_factory.h"
#include "core/device/repository_factory.h"
#include "platform/futures.h"
#include "platform/libusb_hotplug_source.h"
#include "platform/logger.h"
#include "platform/when_finished.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPromise>

#include <mutex>

namespace qb {

namespace {

using RepositoryPtr = std::shared_ptr<FileRepository>;

// The value of a finished future, or its stored exception. A future canceled without a value
// (its producer went away) counts as a phone that is no longer reachable.
template <typename T> T resultOf(QFuture<T>& future)
{
    future.waitForFinished(); // finished already; rethrows a stored exception
    if (future.resultCount() == 0) {
        throw FileRepositoryError::deviceNotConnected();
    }
    return future.result();
}

template <typename T> void settle(QPromise<T>& promise, std::exception_ptr error)
{
    promise.setException(error);
    promise.finish();
}

// One request of the engine through the provider. Unanswered when dropped (the view model went
// away before answering), it fails as a device that is not connected.
struct ProviderRequest
{
    ProviderRequest() { promise.start(); }
    ~ProviderRequest()
    {
        if (!settled) {
            settle(promise, std::make_exception_ptr(FileRepositoryError::deviceNotConnected()));
        }
    }
    void resolve(QFuture<RepositoryPtr> opening)
    {
        settled = true;
        try {
            promise.addResult(resultOf(opening));
            promise.finish();
        } catch (...) {
            settle(promise, std::current_exception());
        }
    }

    QPromise<RepositoryPtr> promise;
    bool settled = false;
};

} // namespace

// The waiters of one opening in flight.
struct DeviceListViewModel::PendingOpen
{
    QList<std::shared_ptr<QPromise<RepositoryPtr>>> waiters;
    // The phone was detached while it opened: hand the repository to the waiters, but do not keep
    // it, since no later event would drop it.
    bool detached = false;
};

// Lets the provider, which the engine may call on any thread, reach the view model while it
// exists. The view model clears the pointer in its destructor.
struct DeviceListViewModel::Lifeline
{
    std::mutex mutex;
    DeviceListViewModel* viewModel = nullptr;
};

DeviceListViewModel::DeviceListViewModel(std::unique_ptr<MTPDeviceManager> manager,
                                         std::shared_ptr<RepositoryFactory> repositoryFactory,
                                         ProviderInstaller installProvider, QObject* parent)
    : QObject(parent), m_manager(std::move(manager)), m_factory(std::move(repositoryFactory)),
      m_lifeline(std::make_shared<Lifeline>())
{
    m_lifeline->viewModel = this;
    if (!installProvider) {
        return;
    }
    // Installed here, before the constructor returns, so that no job the engine runs can find
    // it missing. The provider does not depend on this view model still existing.
    try {
        installProvider(repositoryProvider());
    } catch (const std::exception& error) {
        Logger::mtp().error(QStringLiteral("Could not install the repository provider: %1"),
                            {QString::fromUtf8(error.what())});
    }
}

std::unique_ptr<DeviceListViewModel> DeviceListViewModel::create(ProviderInstaller installProvider,
                                                                 MTPClient::Options clientOptions,
                                                                 QObject* parent)
{
    auto manager = std::make_unique<MTPDeviceManager>(std::make_shared<MTPDeviceLister>(),
                                                      std::make_unique<LibusbHotplugSource>());
    return std::make_unique<DeviceListViewModel>(
        std::move(manager), std::make_shared<MTPRepositoryFactory>(std::move(clientOptions)),
        std::move(installProvider), parent);
}

DeviceListViewModel::~DeviceListViewModel()
{
    {
        std::lock_guard guard(m_lifeline->mutex);
        m_lifeline->viewModel = nullptr;
    }
    if (m_stream) {
        m_stream->detach();
    }
}

void DeviceListViewModel::setSelectedDevice(const std::optional<Device>& device)
{
    const bool same = device.has_value() == m_selectedDevice.has_value() &&
                      (!device || device->id == m_selectedDevice->id);
    m_selectedDevice = device;
    if (!same) {
        emit selectedDeviceChanged();
    }
}

void DeviceListViewModel::setSelectedStorageRoot(const std::optional<StorageRoot>& root)
{
    if (root == m_selectedStorageRoot) {
        return;
    }
    m_selectedStorageRoot = root;
    emit selectedStorageRootChanged();
}

void DeviceListViewModel::setErrorMessage(const std::optional<QString>& message)
{
    if (message == m_errorMessage) {
        return;
    }
    m_errorMessage = message;
    emit errorMessageChanged();
}

void DeviceListViewModel::setIsScanning(bool scanning)
{
    if (scanning == m_isScanning) {
        return;
    }
    m_isScanning = scanning;
    emit isScanningChanged();
}

qsizetype DeviceListViewModel::indexOfDevice(const QString& deviceId) const
{
    for (qsizetype i = 0; i < m_devices.size(); ++i) {
        if (m_devices.at(i).id == deviceId) {
            return i;
        }
    }
    return -1;
}

QFuture<std::shared_ptr<FileRepository>> DeviceListViewModel::repository(const QString& deviceId,
                                                                         quint64 attachment)
{
    if (attachment != 0) {
        const qsizetype index = indexOfDevice(deviceId);
        if (index < 0 || m_devices.at(index).attachment != attachment)
            return failedFuture<RepositoryPtr>(MTPError::deviceNotFound(deviceId));
    }
    if (const auto cached = m_repositories.constFind(deviceId); cached != m_repositories.cend()) {
        return QtFuture::makeReadyFuture(*cached);
    }
    auto waiter = std::make_shared<QPromise<RepositoryPtr>>();
    waiter->start();
    QFuture<RepositoryPtr> answer = waiter->future();

    // A phone is opened once at a time: a second request joins the opening in flight.
    if (const auto pending = m_pendingOpens.value(deviceId)) {
        pending->waiters.append(waiter);
        return answer;
    }
    auto pending = std::make_shared<PendingOpen>();
    pending->waiters.append(waiter);
    m_pendingOpens.insert(deviceId, pending);

    QFuture<RepositoryPtr> opening;
    try {
        opening = m_factory->open(deviceId);
    } catch (...) {
        m_pendingOpens.remove(deviceId);
        settle(*waiter, std::current_exception());
        return answer;
    }
    whenFinished(this, opening, [this, deviceId, pending](const QFuture<RepositoryPtr>& finished) {
        finishOpen(deviceId, pending, finished);
    });
    return answer;
}

void DeviceListViewModel::finishOpen(const QString& deviceId,
                                     const std::shared_ptr<PendingOpen>& pending,
                                     QFuture<RepositoryPtr> opening)
{
    if (m_pendingOpens.value(deviceId) == pending) {
        m_pendingOpens.remove(deviceId);
    }
    RepositoryPtr repository;
    try {
        repository = resultOf(opening);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        for (const auto& waiter : pending->waiters) {
            settle(*waiter, error);
        }
        return;
    }
    if (!pending->detached) {
        m_repositories.insert(deviceId, repository);
        emit repositoriesChanged();
    }
    for (const auto& waiter : pending->waiters) {
        waiter->addResult(repository);
        waiter->finish();
    }
}

std::shared_ptr<FileRepository> DeviceListViewModel::cachedRepository(const QString& deviceId) const
{
    return m_repositories.value(deviceId);
}

RepositoryProvider DeviceListViewModel::repositoryProvider() const
{
    return [lifeline = m_lifeline](const QString& deviceId,
                                   quint64 attachment) -> QFuture<RepositoryPtr> {
        auto request = std::make_shared<ProviderRequest>();
        QFuture<RepositoryPtr> answer = request->promise.future();
        std::lock_guard guard(lifeline->mutex);
        if (lifeline->viewModel == nullptr) {
            return answer; // the request fails as it is dropped here
        }
        // The lookup runs on the view model's thread; if the view model goes away before the
        // call runs, Qt drops it and with it the request.
        QMetaObject::invokeMethod(
            lifeline->viewModel,
            [lifeline, deviceId, attachment, request] {
                lifeline->viewModel->repository(deviceId, attachment)
                    .then([request](QFuture<RepositoryPtr> opening) { request->resolve(opening); });
            },
            Qt::QueuedConnection);
        return answer;
    };
}

void DeviceListViewModel::startMonitoring()
{
    if (m_monitoring) {
        return;
    }
    m_monitoring = true;
    emit monitoringChanged();
    const quint64 generation = ++m_monitorGeneration;
    // Taken before the start, so that the events of its initial scan wait in this stream.
    m_stream = m_manager->deviceEvents();
    whenFinished(this, m_manager->startMonitoring(), [this, generation](const QFuture<void>&) {
        if (generation != m_monitorGeneration || !m_stream) {
            return;
        }
        m_stream->attach(this, [this, generation] { drainEvents(generation); });
    });
}

void DeviceListViewModel::stopMonitoring()
{
    m_manager->stopMonitoring();
    ++m_monitorGeneration;
    if (m_stream) {
        m_stream->detach();
        m_stream.reset();
    }
    if (m_monitoring) {
        m_monitoring = false;
        emit monitoringChanged();
    }
}

void DeviceListViewModel::drainEvents(quint64 monitorGeneration)
{
    const std::shared_ptr<DeviceEventStream> stream = m_stream;
    if (monitorGeneration != m_monitorGeneration || !stream) {
        return;
    }
    for (const DeviceEvent& event : stream->takeEvents()) {
        // An observer may stop monitoring while the batch is being applied.
        if (monitorGeneration != m_monitorGeneration) {
            return;
        }
        handle(event);
    }
    if (stream->atEnd()) {
        // The manager ended this stream; the monitor is over, but stays recorded until the
        // sidebar stops monitoring.
        stream->detach();
    }
}

void DeviceListViewModel::handle(const DeviceEvent& event)
{
    const Logger log = Logger::mtp();
    switch (event.kind) {
    case DeviceEvent::Kind::Connected:
        if (indexOfDevice(event.device.id) >= 0) {
            return;
        }
        m_devices.append(event.device);
        emit devicesChanged();
        log.info(QStringLiteral("Device connected: %1"), {event.device.displayName});
        return;
    case DeviceEvent::Kind::Disconnected: {
        const QString& id = event.deviceId;
        if (m_devices.removeIf([&id](const Device& device) { return device.id == id; }) > 0) {
            emit devicesChanged();
        }
        if (m_repositories.remove(id) > 0) {
            emit repositoriesChanged();
        }
        if (const auto pending = m_pendingOpens.take(id)) {
            pending->detached = true;
        }
        if (m_selectedDevice && m_selectedDevice->id == id) {
            setSelectedDevice(m_devices.isEmpty() ? std::nullopt
                                                  : std::optional<Device>(m_devices.first()));
        }
        log.info(QStringLiteral("Device disconnected: %1"), {id});
        return;
    }
    case DeviceEvent::Kind::Updated: {
        const qsizetype index = indexOfDevice(event.device.id);
        if (index >= 0) {
            m_devices[index] = event.device;
            emit devicesChanged();
        }
        return;
    }
    }
}

QFuture<void> DeviceListViewModel::refreshDevices()
{
    setIsScanning(true);
    auto done = std::make_shared<QPromise<void>>();
    done->start();
    whenFinished(this, m_manager->scanNow(), [this, done](QFuture<QList<Device>> scan) {
        bool added = false;
        const QList<Device> found = scan.resultCount() > 0 ? scan.result() : QList<Device>();
        for (const Device& device : found) {
            if (indexOfDevice(device.id) < 0) {
                m_devices.append(device);
                added = true;
            }
        }
        if (added) {
            emit devicesChanged();
        }
        // An open phone is asked for its storages again, so one whose last request lost its
        // session is opened anew now; storages that did not change leave the views alone.
        for (const Device& device : found) {
            if (const RepositoryPtr open = m_repositories.value(device.id)) {
                whenFinished(this, m_factory->storageRoots(open),
                             [this, id = device.id](QFuture<QList<StorageRoot>> roots) {
                                 try {
                                     const QList<StorageRoot> now = resultOf(roots);
                                     const qsizetype index = indexOfDevice(id);
                                     if (index >= 0 && m_devices[index].storageRoots != now)
                                         applyStorageRoots(id, now);
                                 } catch (...) {
                                     reportFailure(std::current_exception());
                                 }
                             });
            }
        }
        setIsScanning(false);
        done->finish();
    });
    return done->future();
}

QFuture<void> DeviceListViewModel::selectDevice(const Device& device)
{
    setSelectedDevice(device);
    setSelectedStorageRoot(device.storageRoots.isEmpty()
                               ? std::nullopt
                               : std::optional<StorageRoot>(device.storageRoots.first()));

    auto done = std::make_shared<QPromise<void>>();
    done->start();
    QFuture<void> finished = done->future();
    const QString deviceId = device.id;
    whenFinished(
        this, repository(deviceId), [this, deviceId, done](QFuture<RepositoryPtr> opening) {
            QFuture<QList<StorageRoot>> loading;
            try {
                loading = m_factory->storageRoots(resultOf(opening));
            } catch (...) {
                reportFailure(std::current_exception());
                done->finish();
                return;
            }
            whenFinished(this, loading, [this, deviceId, done](QFuture<QList<StorageRoot>> roots) {
                try {
                    applyStorageRoots(deviceId, resultOf(roots));
                } catch (...) {
                    reportFailure(std::current_exception());
                }
                done->finish();
            });
        });
    return finished;
}

void DeviceListViewModel::applyStorageRoots(const QString& deviceId,
                                            const QList<StorageRoot>& roots)
{
    const qsizetype index = indexOfDevice(deviceId);
    if (index < 0) {
        return; // detached meanwhile
    }
    m_devices[index].storageRoots = roots;
    emit devicesChanged();
    if (m_selectedDevice && m_selectedDevice->id == deviceId) {
        m_selectedDevice->storageRoots = roots;
        emit selectedDeviceChanged();
        if (!m_selectedStorageRoot) {
            setSelectedStorageRoot(roots.isEmpty() ? std::nullopt
                                                   : std::optional<StorageRoot>(roots.first()));
        }
    }
}

void DeviceListViewModel::reportFailure(std::exception_ptr error)
{
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const FileRepositoryError& failure) {
        message = failure.message();
    } catch (const std::exception& failure) {
        message = QString::fromUtf8(failure.what());
    } catch (...) {
        message = FileRepositoryError::unknown(QStringLiteral("Unknown error")).message();
    }
    // Set even when equal: the notification rule then keeps observers quiet.
    setErrorMessage(message);
}

} // namespace qb
