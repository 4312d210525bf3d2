#pragma once

#include "core/device/fake_file_repository.h"
#include "core/device/repository_factory.h"
#include "platform/futures.h"
#include "support/test_support.h"

#include <QApplication>
#include <QHash>
#include <QTest>

#include <mutex>

namespace qb::test {

using WidgetApplicationEnvironment = ApplicationEnvironment<QApplication>;

// Delivers what is already on its way: the pool's work, then the queued results it and they post
// (each round takes one more step of a chain of continuations).
inline void deliverPostedEvents()
{
    for (int round = 0; round < 4; ++round) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
    }
}

// A phone whose listings stay open until the test answers them, in any order, unless `ready`
// holds the folder (its cached listing, which forgetListing() drops); a download of a path in
// `holdDownloads` waits for releaseDownload().
class GatedRepository : public FakeFileRepository
{
public:
    QHash<QString, QList<FileItem>> ready;
    QSet<QString> holdDownloads;

    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override
    {
        FakeFileRepository::listFiles(folderPath); // logs the call
        if (ready.contains(folderPath))
            return readyFuture(ready.value(folderPath));
        m_open.append({folderPath, std::make_shared<QPromise<QList<FileItem>>>()});
        m_open.last().second->start();
        return m_open.last().second->future();
    }
    // Ends the oldest open listing of the folder with `items`, or with `error`.
    void answer(const QString& folderPath, const QList<FileItem>& items,
                std::exception_ptr error = {})
    {
        const auto open = std::find_if(m_open.begin(), m_open.end(), [&](const auto& listing) {
            return listing.first == folderPath;
        });
        ASSERT_NE(open, m_open.end()) << "no open listing of " << folderPath.toStdString();
        const auto promise = open->second;
        m_open.erase(open);
        if (error)
            promise->setException(error);
        else
            promise->addResult(items);
        promise->finish();
    }
    void forgetListing(const QString& folderPath) override { ready.remove(folderPath); }
    int renewals = 0;
    QFuture<void> renewSession() override
    {
        ++renewals;
        return readyFuture();
    }

    // Called on the engine's workers.
    QFuture<void> downloadFile(const QString& path, const QString& to, ProgressFn progress) override
    {
        std::lock_guard lock(m_mutex);
        if (!holdDownloads.contains(path))
            return FakeFileRepository::downloadFile(path, to, progress);
        auto& held = m_held[path] = {to, std::make_shared<QPromise<void>>()};
        held.second->start();
        return held.second->future();
    }
    bool holding(const QString& path) const
    {
        std::lock_guard lock(m_mutex);
        return m_held.contains(path);
    }
    // Writes the held download of `path` and lets it finish.
    void releaseDownload(const QString& path)
    {
        std::unique_lock lock(m_mutex);
        const auto [to, promise] = m_held.take(path);
        lock.unlock();
        ASSERT_TRUE(promise) << "no download of " << path.toStdString() << " waits";
        FakeFileRepository::downloadFile(path, to, {});
        promise->finish();
    }

private:
    mutable std::mutex m_mutex;
    QList<std::pair<QString, std::shared_ptr<QPromise<QList<FileItem>>>>> m_open;
    QHash<QString, std::pair<QString, std::shared_ptr<QPromise<void>>>> m_held;
};

// Opens one GatedRepository per phone id; the opening of a held phone waits for release().
// Every phone reports `storages`.
class FakeRepositoryFactory : public RepositoryFactory
{
public:
    using RepositoryPtr = std::shared_ptr<FileRepository>;

    QList<StorageRoot> storages;

    std::shared_ptr<GatedRepository> repository(const QString& deviceId)
    {
        auto& repo = m_repositories[deviceId];
        if (!repo)
            repo = std::make_shared<GatedRepository>();
        return repo;
    }
    void hold(const QString& deviceId) { m_held.insert(deviceId, nullptr); }
    void release(const QString& deviceId)
    {
        auto promise = m_held.take(deviceId);
        ASSERT_TRUE(promise) << "nothing asked to open " << deviceId.toStdString();
        promise->addResult(repository(deviceId));
        promise->finish();
    }
    QFuture<RepositoryPtr> open(const QString& deviceId) override
    {
        if (!m_held.contains(deviceId))
            return readyFuture<RepositoryPtr>(repository(deviceId));
        auto promise = std::make_shared<QPromise<RepositoryPtr>>();
        promise->start();
        m_held.insert(deviceId, promise);
        return promise->future();
    }
    QFuture<QList<StorageRoot>> storageRoots(const RepositoryPtr&) override
    {
        return readyFuture(storages);
    }

private:
    QHash<QString, std::shared_ptr<GatedRepository>> m_repositories;
    QHash<QString, std::shared_ptr<QPromise<RepositoryPtr>>> m_held;
};

inline FileItem file(const QString& id, const QString& name, std::optional<qint64> size = {},
                     std::optional<QDateTime> date = {})
{
    return FileItem{id, name, id, false, size, date, {}};
}

inline FileItem folder(const QString& id, const QString& name)
{
    return FileItem{id, name, id, true, {}, {}, {}};
}

inline QStringList namesOf(const QList<FileItem>& items)
{
    QStringList names;
    for (const auto& item : items)
        names.append(item.name);
    return names;
}

} // namespace qb::test
