#pragma once

#include "core/device/device_lister.h"
#include "core/device/fake_file_repository.h"
#include "core/device/file_repository.h"
#include "core/device/repository_factory.h"
#include "platform/usb_hotplug_source.h"
#include "support/test_support.h"

#include <QHash>
#include <QPromise>
#include <QStringList>

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace qb::test {

// A bus with a list of devices that tests change; a listing can be made to fail or to wait at a
// gate until the test opens it.
class FakeDeviceLister : public DeviceLister
{
public:
    std::optional<QList<ListedDevice>> listDevices() override
    {
        std::unique_lock lock(m_mutex);
        ++m_calls;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_gateClosed; });
        if (m_fail) {
            return std::nullopt;
        }
        return m_devices;
    }

    void setDevices(QList<ListedDevice> devices)
    {
        std::lock_guard lock(m_mutex);
        m_devices = std::move(devices);
    }
    void setFailing(bool fail)
    {
        std::lock_guard lock(m_mutex);
        m_fail = fail;
    }
    void closeGate()
    {
        std::lock_guard lock(m_mutex);
        m_gateClosed = true;
    }
    void openGate()
    {
        std::lock_guard lock(m_mutex);
        m_gateClosed = false;
        m_changed.notify_all();
    }
    int calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<ListedDevice> m_devices;
    bool m_fail = false;
    bool m_gateClosed = false;
    int m_calls = 0;
};

inline ListedDevice listed(const QString& id, const QString& friendlyName)
{
    return ListedDevice{id, friendlyName, QString(), QString(), QString()};
}

// Records what happens to it in a log that outlives it.
class FakeHotplugSource : public UsbHotplugSource
{
public:
    explicit FakeHotplugSource(std::shared_ptr<QStringList> log, bool supported = true)
        : m_log(std::move(log)), m_supported(supported)
    {}
    ~FakeHotplugSource() override { m_log->append(QStringLiteral("destroyed")); }

    bool start() override
    {
        m_log->append(QStringLiteral("start"));
        m_started = m_supported;
        return m_supported;
    }
    void stop() override
    {
        m_log->append(QStringLiteral("stop"));
        m_started = false;
    }
    // One attach or detach notification, as the platform would deliver it.
    void notify()
    {
        if (m_started) {
            emit deviceChanged();
        }
    }
    bool isStarted() const { return m_started; }

private:
    std::shared_ptr<QStringList> m_log;
    bool m_supported;
    bool m_started = false;
};

// A repository that carries the id of its phone; the device list never uses its files.
class FakeRepository : public qb::FakeFileRepository
{
public:
    explicit FakeRepository(QString deviceId) : m_deviceId(std::move(deviceId)) {}
    QString deviceId() const { return m_deviceId; }
    // What was deleted through it, so that a job can show it reached this repository.
    QStringList deleted() const
    {
        QStringList paths;
        for (const QString& call : calls()) {
            if (call.startsWith(QStringLiteral("delete ")))
                paths.append(call.mid(7));
        }
        return paths;
    }

private:
    QString m_deviceId;
};

// Opens FakeRepository instances. By default every open and every storage load answers at once;
// a held phone's open (or load) waits until the test releases it; a failing phone's open fails.
class FakeRepositoryFactory : public RepositoryFactory
{
public:
    using RepositoryPtr = std::shared_ptr<FileRepository>;

    QFuture<RepositoryPtr> open(const QString& deviceId) override
    {
        m_opened.append(deviceId);
        auto promise = std::make_shared<QPromise<RepositoryPtr>>();
        promise->start();
        if (m_holdOpen.contains(deviceId)) {
            m_heldOpens.insert(deviceId, promise);
        } else {
            answerOpen(deviceId, *promise);
        }
        return promise->future();
    }

    QFuture<QList<StorageRoot>> storageRoots(const RepositoryPtr& repository) override
    {
        const QString id = std::static_pointer_cast<FakeRepository>(repository)->deviceId();
        auto promise = std::make_shared<QPromise<QList<StorageRoot>>>();
        promise->start();
        if (m_holdRoots.contains(id)) {
            m_heldRoots.insert(id, promise);
        } else {
            promise->addResult(m_roots.value(id));
            promise->finish();
        }
        return promise->future();
    }

    void setRoots(const QString& id, QList<StorageRoot> roots) { m_roots.insert(id, roots); }
    void setOpenFailure(const QString& id, std::exception_ptr error)
    {
        m_failures.insert(id, error);
    }
    void holdOpen(const QString& id) { m_holdOpen.append(id); }
    void holdRoots(const QString& id) { m_holdRoots.append(id); }
    void releaseOpen(const QString& id)
    {
        m_holdOpen.removeAll(id);
        if (auto promise = m_heldOpens.take(id)) {
            answerOpen(id, *promise);
        }
    }
    void releaseRoots(const QString& id)
    {
        m_holdRoots.removeAll(id);
        if (auto promise = m_heldRoots.take(id)) {
            promise->addResult(m_roots.value(id));
            promise->finish();
        }
    }
    QStringList opened() const { return m_opened; }

private:
    void answerOpen(const QString& id, QPromise<RepositoryPtr>& promise)
    {
        if (m_failures.contains(id)) {
            promise.setException(m_failures.value(id));
        } else {
            promise.addResult(std::make_shared<FakeRepository>(id));
        }
        promise.finish();
    }

    QHash<QString, QList<StorageRoot>> m_roots;
    QHash<QString, std::exception_ptr> m_failures;
    QStringList m_holdOpen;
    QStringList m_holdRoots;
    QHash<QString, std::shared_ptr<QPromise<RepositoryPtr>>> m_heldOpens;
    QHash<QString, std::shared_ptr<QPromise<QList<StorageRoot>>>> m_heldRoots;
    QStringList m_opened;
};

inline StorageRoot storage(const QString& id, const QString& name)
{
    return StorageRoot{id, name, id + QStringLiteral("/0"), 1000, 500};
}

} // namespace qb::test
