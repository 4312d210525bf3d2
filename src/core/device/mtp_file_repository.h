#pragma once

#include "core/device/file_repository.h"
#include "core/device/mtp_client.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>
#include <utility>

namespace qb {

// One phone's files over MTP. Phone paths are "storage/object" in decimal; a storage's root
// folder is object 0. Folder listings are cached until anything changes the phone through this
// repository.
class MTPFileRepository : public FileRepository
{
public:
    static constexpr int maxCacheEntries = 30;

    // Opens the device; fails with the client's MTPError when it cannot be opened.
    static QFuture<std::shared_ptr<MTPFileRepository>> create(const QString& deviceId,
                                                              MTPClient::Options options);

    QString deviceId() const { return m_deviceId; }
    // The folder paths whose listings are cached, oldest first.
    QStringList cachedFolders() const;

    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override;
    QFuture<FileItem> itemInfo(const QString& path) override;
    QFuture<void> downloadFile(const QString& path, const QString& localFilePath,
                               ProgressFn progress) override;
    QFuture<void> uploadFile(const QString& localFilePath, const QString& folderPath,
                             ProgressFn progress) override;
    QFuture<void> createFolder(const QString& name, const QString& parentPath) override;
    QFuture<void> deleteItem(const QString& path) override;
    QFuture<void> renameItem(const QString& path, const QString& newName) override;
    QFuture<void> moveItem(const QString& path, const QString& destinationFolderPath) override;
    void forgetListing(const QString& folderPath) override;
    QFuture<void> renewSession() override;

    // Throws FileRepositoryError::itemNotFound(path) unless `path` is two unsigned 32-bit
    // decimal numbers joined by "/". Returns (storage id, object id).
    static std::pair<quint32, quint32> parsePath(const QString& path);

    QFuture<QList<StorageRoot>> storageRoots();

    static FileItem fileItem(const MTPClient::FileInfo& info);

    struct Cache;

private:
    MTPFileRepository(QString deviceId, std::unique_ptr<MTPClient> client);

    // Parses first so a malformed path leaves the cache alone; then empties the cache before
    // the phone is asked, so even a failed change drops listings it may have touched.
    std::pair<quint32, quint32> parseAndInvalidate(const QString& path);

    QString m_deviceId;
    std::unique_ptr<MTPClient> m_client;
    std::shared_ptr<Cache> m_cache;
};

} // namespace qb
