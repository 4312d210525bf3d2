#pragma once

#include "core/device/file_repository.h"
#include "core/device/repository_factory.h"
#include "platform/futures.h"
#include "support/test_support.h"

#include <QApplication>
#include <QHash>
#include <QPromise>
#include <QStringList>
#include <QTest>

#include <QFile>
#include <QFileInfo>

#include <memory>
#include <mutex>

namespace qb::test {

using WidgetApplicationEnvironment = ApplicationEnvironment<QApplication>;

// A phone whose listings stay open until the test answers them, in any order; every other
// operation succeeds at once or fails as told. Calls are logged.
class GatedRepository : public FileRepository
{
public:
    QHash<QString, std::exception_ptr> failures; // operation name -> error
    QHash<QString, QByteArray> files;            // phone path -> bytes, for downloads
    QHash<QString, QByteArray> uploaded;         // folder path + "/" + local name -> bytes
    QSet<QString> holdDownloads;                 // phone paths whose download waits

    QStringList calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    void clearCalls()
    {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }

    // Listings answered at once instead of held, by folder path.
    QHash<QString, QList<FileItem>> ready;

    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override
    {
        log("list " + folderPath);
        if (ready.contains(folderPath))
            return readyFuture(ready.value(folderPath));
        auto promise = std::make_shared<QPromise<QList<FileItem>>>();
        promise->start();
        m_open.append({folderPath, promise});
        return promise->future();
    }
    // Answers the oldest open listing of the folder.
    void answer(const QString& folderPath, const QList<FileItem>& items)
    {
        auto promise = take(folderPath);
        promise->addResult(items);
        promise->finish();
    }
    void fail(const QString& folderPath, std::exception_ptr error)
    {
        auto promise = take(folderPath);
        promise->setException(error);
        promise->finish();
    }
    qsizetype openListings() const { return m_open.size(); }

    // Called on the engine's workers.
    QFuture<void> downloadFile(const QString& path, const QString& to, ProgressFn) override
    {
        std::lock_guard lock(m_mutex);
        m_calls.append("download " + path);
        auto promise = std::make_shared<QPromise<void>>();
        promise->start();
        m_downloads.append({path, to, promise});
        if (!holdDownloads.contains(path))
            finishDownload(m_downloads.size() - 1);
        return promise->future();
    }
    // Writes the held download of `path` and lets it finish.
    void releaseDownload(const QString& path)
    {
        std::lock_guard lock(m_mutex);
        holdDownloads.remove(path);
        for (qsizetype i = 0; i < m_downloads.size(); ++i) {
            if (m_downloads.at(i).path == path)
                finishDownload(i);
        }
    }
    QFuture<void> uploadFile(const QString& from, const QString& folder, ProgressFn) override
    {
        QFile in(from);
        if (!in.open(QIODevice::ReadOnly))
            return failedFuture<void>(FileRepositoryError::itemNotFound(from));
        std::lock_guard lock(m_mutex);
        m_calls.append("upload " + QFileInfo(from).fileName() + " " + folder);
        uploaded.insert(folder + "/" + QFileInfo(from).fileName(), in.readAll());
        return readyFuture();
    }
    QFuture<void> createFolder(const QString& name, const QString& parent) override
    {
        return done("create " + name + " " + parent, "create");
    }
    QFuture<void> deleteItem(const QString& path) override
    {
        return done("delete " + path, "delete");
    }
    QFuture<void> renameItem(const QString& path, const QString& name) override
    {
        return done("rename " + path + " " + name, "rename");
    }
    QFuture<void> moveItem(const QString& path, const QString& folder) override
    {
        return done("move " + path + " " + folder, "move");
    }
    void forgetListing(const QString& folderPath) override { log("forget " + folderPath); }

private:
    using Promise = std::shared_ptr<QPromise<QList<FileItem>>>;

    Promise take(const QString& folderPath)
    {
        for (qsizetype i = 0; i < m_open.size(); ++i) {
            if (m_open.at(i).first == folderPath)
                return m_open.takeAt(i).second;
        }
        ADD_FAILURE() << "no open listing of " << folderPath.toStdString();
        auto promise = std::make_shared<QPromise<QList<FileItem>>>();
        promise->start();
        return promise;
    }
    struct Download
    {
        QString path;
        QString to;
        std::shared_ptr<QPromise<void>> promise;
    };
    void finishDownload(qsizetype index)
    {
        const Download download = m_downloads.takeAt(index);
        QFile out(download.to);
        if (out.open(QIODevice::WriteOnly))
            out.write(files.value(download.path));
        out.close();
        download.promise->finish();
    }
    void log(const QString& call)
    {
        std::lock_guard lock(m_mutex);
        m_calls.append(call);
    }
    QFuture<void> done(const QString& call, const QString& operation)
    {
        log(call);
        std::lock_guard lock(m_mutex);
        if (auto error = failures.value(operation))
            return failedFuture<void>(error);
        return readyFuture();
    }

    mutable std::mutex m_mutex;
    QStringList m_calls;
    QList<std::pair<QString, Promise>> m_open;
    QList<Download> m_downloads;
};

// Opens one GatedRepository per phone id; the opening of a held phone waits for release().
class FakeRepositoryFactory : public RepositoryFactory
{
public:
    using RepositoryPtr = std::shared_ptr<FileRepository>;

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
        if (promise) {
            promise->addResult(repository(deviceId));
            promise->finish();
        }
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
        return readyFuture(QList<StorageRoot>{});
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
