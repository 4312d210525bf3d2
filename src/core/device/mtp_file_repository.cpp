#include "core/device/mtp_file_repository.h"

#include "platform/futures.h"

#include <QFuture>

#include <limits>
#include <memory>
#include <type_traits>

namespace qb {

// Listings by folder path, in insertion order. `generation` moves on every invalidation so a
// listing read before a change never lands in the cache after it.
struct MTPFileRepository::Cache
{
    mutable std::mutex mutex;
    QHash<QString, QList<FileItem>> listings;
    QStringList order;
    quint64 generation = 0;

    std::optional<QList<FileItem>> find(const QString& path) const
    {
        std::lock_guard lock(mutex);
        auto it = listings.constFind(path);
        if (it == listings.constEnd())
            return std::nullopt;
        return *it;
    }

    quint64 currentGeneration() const
    {
        std::lock_guard lock(mutex);
        return generation;
    }

    void store(const QString& path, const QList<FileItem>& items, quint64 readAt)
    {
        std::lock_guard lock(mutex);
        if (readAt != generation)
            return;
        if (!listings.contains(path))
            order.append(path);
        listings.insert(path, items);
        while (order.size() > maxCacheEntries)
            listings.remove(order.takeFirst());
    }

    // Also moves the generation on, so a listing of the folder already under way is not
    // stored over the fresh one.
    void forget(const QString& path)
    {
        std::lock_guard lock(mutex);
        listings.remove(path);
        order.removeAll(path);
        ++generation;
    }

    void clear()
    {
        std::lock_guard lock(mutex);
        listings.clear();
        order.clear();
        ++generation;
    }
};

namespace {

// A listing goes ahead of changes queued for the phone, so one read while a change was waiting
// could be cached with the old contents: the cache is emptied again once the change has settled,
// whether it succeeded or failed, before the caller hears of it.
template <typename T, typename C>
QFuture<T> clearWhenSettled(QFuture<T> change, std::shared_ptr<C> cache)
{
    return thenSync(std::move(change), [cache](QFuture<T> settled) {
        cache->clear();
        if constexpr (std::is_void_v<T>)
            settled.waitForFinished();
        else
            return settled.result();
    });
}

// Accepts what a standard unsigned parse accepts: digits with an optional "+", or "-" only
// before a value of zero; at most 4294967295.
std::optional<quint32> parseId(QStringView text)
{
    if (text.isEmpty())
        return std::nullopt;
    bool negative = false;
    if (text.front() == u'+' || text.front() == u'-') {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + static_cast<quint64>(c.unicode() - u'0');
        if (value > std::numeric_limits<quint32>::max())
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return static_cast<quint32>(value);
}

template <typename T> QFuture<T> failWith(const std::exception_ptr& error)
{
    return failedFuture<T>(error);
}

} // namespace

MTPFileRepository::MTPFileRepository(QString deviceId, std::unique_ptr<MTPClient> client)
    : m_deviceId(std::move(deviceId)), m_client(std::move(client)),
      m_cache(std::make_shared<Cache>())
{}

QFuture<std::shared_ptr<MTPFileRepository>> MTPFileRepository::create(const QString& deviceId,
                                                                      MTPClient::Options options)
{
    auto client = std::make_shared<std::unique_ptr<MTPClient>>(
        std::make_unique<MTPClient>(std::move(options)));
    return thenSync((*client)->open(deviceId), [client, deviceId] {
        return std::shared_ptr<MTPFileRepository>(
            new MTPFileRepository(deviceId, std::move(*client)));
    });
}

QStringList MTPFileRepository::cachedFolders() const
{
    std::lock_guard lock(m_cache->mutex);
    return m_cache->order;
}

std::pair<quint32, quint32> MTPFileRepository::parsePath(const QString& path)
{
    // At most two pieces: the first non-empty piece, then everything after the separator that
    // follows it (which must itself be a plain number).
    QStringView rest(path);
    while (rest.startsWith(u'/'))
        rest = rest.mid(1);
    const qsizetype slash = rest.indexOf(u'/');
    if (slash > 0) {
        QStringView second = rest.mid(slash + 1);
        auto storage = parseId(rest.left(slash));
        auto object = parseId(second);
        if (storage && object)
            return {*storage, *object};
    }
    throw FileRepositoryError::itemNotFound(path);
}

std::pair<quint32, quint32> MTPFileRepository::parseAndInvalidate(const QString& path)
{
    auto ids = parsePath(path);
    m_cache->clear();
    return ids;
}

FileItem MTPFileRepository::fileItem(const MTPClient::FileInfo& info)
{
    FileItem item;
    item.id = QString::number(info.storageId) + u'/' + QString::number(info.objectId);
    item.path = item.id;
    item.name = info.name;
    item.isDirectory = info.isDirectory;
    if (!info.isDirectory)
        item.size = info.size;
    item.modifiedAt = info.modifiedTime;
    if (!info.mimeType.isEmpty())
        item.mimeType = info.mimeType;
    return item;
}

QFuture<QList<FileItem>> MTPFileRepository::listFiles(const QString& folderPath)
{
    if (auto cached = m_cache->find(folderPath))
        return readyFuture(*cached);
    std::pair<quint32, quint32> ids;
    try {
        ids = parsePath(folderPath);
    } catch (...) {
        return failWith<QList<FileItem>>(std::current_exception());
    }
    const quint64 generation = m_cache->currentGeneration();
    return thenSync(
        m_client->listFiles(ids.first, ids.second),
        [cache = m_cache, folderPath, generation](const QList<MTPClient::FileInfo>& infos) {
            QList<FileItem> items;
            items.reserve(infos.size());
            for (const auto& info : infos)
                items.append(fileItem(info));
            cache->store(folderPath, items, generation);
            return items;
        });
}

QFuture<FileItem> MTPFileRepository::itemInfo(const QString& path)
{
    try {
        auto ids = parsePath(path);
        return thenSync(m_client->objectInfo(ids.second),
                        [](const MTPClient::FileInfo& info) { return fileItem(info); });
    } catch (...) {
        return failWith<FileItem>(std::current_exception());
    }
}

void MTPFileRepository::forgetListing(const QString& folderPath)
{
    m_cache->forget(folderPath);
}

QFuture<void> MTPFileRepository::renewSession()
{
    m_cache->clear();
    return m_client->renewSession();
}

QFuture<QList<StorageRoot>> MTPFileRepository::storageRoots()
{
    return thenSync(m_client->listStorages(), [](const QList<MTPClient::StorageInfo>& storages) {
        QList<StorageRoot> roots;
        for (const auto& storage : storages) {
            const QString id = QString::number(storage.storageId);
            roots.append({id, storage.name, id + QStringLiteral("/0"), storage.capacityBytes,
                          storage.availableBytes});
        }
        return roots;
    });
}

QFuture<void> MTPFileRepository::downloadFile(const QString& path, const QString& localFilePath,
                                              ProgressFn progress)
{
    try {
        auto ids = parsePath(path);
        return m_client->downloadFile(ids.second, localFilePath, std::move(progress));
    } catch (...) {
        return failWith<void>(std::current_exception());
    }
}

QFuture<void> MTPFileRepository::uploadFile(const QString& localFilePath, const QString& folderPath,
                                            ProgressFn progress)
{
    try {
        auto ids = parseAndInvalidate(folderPath);
        return clearWhenSettled(
            m_client->uploadFile(localFilePath, ids.first, ids.second, std::move(progress)),
            m_cache);
    } catch (...) {
        return failWith<void>(std::current_exception());
    }
}

QFuture<void> MTPFileRepository::createFolder(const QString& name, const QString& parentPath)
{
    try {
        auto ids = parseAndInvalidate(parentPath);
        return thenSync(
            clearWhenSettled(m_client->createFolder(name, ids.first, ids.second), m_cache),
            [](quint32) {});
    } catch (...) {
        return failWith<void>(std::current_exception());
    }
}

QFuture<void> MTPFileRepository::deleteItem(const QString& path)
{
    try {
        auto ids = parseAndInvalidate(path);
        return clearWhenSettled(m_client->deleteObject(ids.second), m_cache);
    } catch (...) {
        return failWith<void>(std::current_exception());
    }
}

QFuture<void> MTPFileRepository::renameItem(const QString& path, const QString& newName)
{
    try {
        auto ids = parseAndInvalidate(path);
        return clearWhenSettled(m_client->renameObject(ids.second, newName), m_cache);
    } catch (...) {
        return failWith<void>(std::current_exception());
    }
}

QFuture<void> MTPFileRepository::moveItem(const QString&, const QString&)
{
    // MTP offers no move that works across phones; MoveFileUseCase copies instead.
    return failedFuture<void>(FileRepositoryError::moveNotSupported());
}

} // namespace qb
