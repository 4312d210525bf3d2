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

#include <atomic>
#include <condition_variable>
#include <functional>
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
        ++m_calls;
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_gateClosed; });
        return m_fail ? std::nullopt : std::optional(m_devices);
    }
    void setDevices(QList<ListedDevice> devices)
    {
        std::lock_guard lock(m_mutex);
        m_devices = std::move(devices);
    }
    void setFailing(bool fail) { m_fail = fail; }
    void closeGate() { m_gateClosed = true; }
    void openGate()
    {
        {
            std::lock_guard lock(m_mutex);
            m_gateClosed = false;
        }
        m_changed.notify_all();
    }
    int calls() const { return m_calls; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<ListedDevice> m_devices;
    std::atomic<bool> m_fail = false, m_gateClosed = false;
    std::atomic<int> m_calls = 0;
};

inline ListedDevice listed(const QString& id, const QString& friendlyName)
{
    return ListedDevice{id, friendlyName, QString(), QString(), QString()};
}

// Records what happens to it in a log that outlives it.
class FakeHotplugSource : public UsbHotplugSource
{
public:
    explicit FakeHotplugSource(std::shared_ptr<QStringList> log) : m_log(std::move(log)) {}
    ~FakeHotplugSource() override { m_log->append(QStringLiteral("destroyed")); }

    bool start() override
    {
        m_log->append(QStringLiteral("start"));
        return m_started = true;
    }
    void stop() override
    {
        m_log->append(QStringLiteral("stop"));
        m_started = false;
    }
    // One attach or detach notification, as the platform would deliver it.
    void notify()
    {
        if (m_started)
            emit deviceChanged();
    }

private:
    std::shared_ptr<QStringList> m_log;
    bool m_started = false;
};

// A repository that carries the id of its phone; the device list never uses its files.
class FakeRepository : public qb::FakeFileRepository
{
public:
    explicit FakeRepository(QString deviceId) : m_deviceId(std::move(deviceId)) {}
    QString deviceId() const { return m_deviceId; }

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
        return m_opens.start(deviceId, m_holdOpen.contains(deviceId), [this, deviceId](auto& p) {
            if (m_failures.contains(deviceId))
                p.setException(m_failures.value(deviceId));
            else
                p.addResult(std::make_shared<FakeRepository>(deviceId));
        });
    }
    QFuture<QList<StorageRoot>> storageRoots(const RepositoryPtr& repository) override
    {
        const QString id = std::static_pointer_cast<FakeRepository>(repository)->deviceId();
        return m_loads.start(id, m_holdRoots.contains(id),
                             [this, id](auto& p) { p.addResult(m_roots.value(id)); });
    }

    void setRoots(const QString& id, QList<StorageRoot> roots) { m_roots.insert(id, roots); }
    void setOpenFailure(const QString& id, std::exception_ptr error)
    {
        m_failures.insert(id, error);
    }
    void holdOpen(const QString& id) { m_holdOpen.append(id); }
    void holdRoots(const QString& id) { m_holdRoots.append(id); }
    void releaseOpen(const QString& id) { m_holdOpen.removeAll(id), m_opens.release(id); }
    void releaseRoots(const QString& id) { m_holdRoots.removeAll(id), m_loads.release(id); }
    QStringList opened() const { return m_opened; }

private:
    // Answers held back per phone until released.
    template <typename T> struct Answers
    {
        using Answer = std::function<void(QPromise<T>&)>;
        QHash<QString, std::pair<std::shared_ptr<QPromise<T>>, Answer>> held;
        QFuture<T> start(const QString& id, bool hold, Answer answer)
        {
            auto promise = std::make_shared<QPromise<T>>();
            promise->start();
            if (hold)
                held.insert(id, {promise, answer});
            else
                answer(*promise), promise->finish();
            return promise->future();
        }
        void release(const QString& id)
        {
            if (auto [promise, answer] = held.take(id); promise)
                answer(*promise), promise->finish();
        }
    };

    QHash<QString, QList<StorageRoot>> m_roots;
    QHash<QString, std::exception_ptr> m_failures;
    QStringList m_holdOpen, m_holdRoots, m_opened;
    Answers<RepositoryPtr> m_opens;
    Answers<QList<StorageRoot>> m_loads;
};

inline StorageRoot storage(const QString& id, const QString& name)
{
    return StorageRoot{id, name, id + QStringLiteral("/0"), 1000, 500};
}

} // namespace qb::test
