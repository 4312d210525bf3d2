#pragma once

#include "core/device/device_model.h"
#include "core/device/file_repository_error.h"
#include "platform/futures.h"

#include <QFuture>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace qb {

// May be called on any thread.
using ProgressFn = std::function<void(qint64 done, qint64 total)>;

// One phone's files. Every operation is asynchronous and fails with an exception (usually a
// FileRepositoryError). Local files are plain absolute paths.
class FileRepository
{
public:
    virtual ~FileRepository() = default;
    virtual QFuture<QList<FileItem>> listFiles(const QString& folderPath) = 0;
    // One item as the phone reports it now, never from a cached listing.
    virtual QFuture<FileItem> itemInfo(const QString& path) = 0;
    virtual QFuture<void> downloadFile(const QString& path, const QString& localFilePath,
                                       ProgressFn progress) = 0;
    virtual QFuture<void> uploadFile(const QString& localFilePath, const QString& folderPath,
                                     ProgressFn progress) = 0;
    virtual QFuture<void> createFolder(const QString& name, const QString& parentPath) = 0;
    virtual QFuture<void> deleteItem(const QString& path) = 0;
    virtual QFuture<void> renameItem(const QString& path, const QString& newName) = 0;
    virtual QFuture<void> moveItem(const QString& path, const QString& destinationFolderPath) = 0;
    // Drops a cached listing of the folder, if the repository keeps one, so that the next
    // listing asks the phone (changes made on the phone itself show only then).
    virtual void forgetListing(const QString& /*folderPath*/) {}
    // Makes what the repository says next what the phone holds now, after the calls already
    // under way: every cached listing is dropped, and a phone whose library remembers what it
    // once read of each file (MTP) is asked anew. Fails when the phone cannot be reached.
    virtual QFuture<void> renewSession() { return readyFuture(); }
};

// Resolves a device id to that device's repository (opening it on first use), or fails, for
// example with FileRepositoryError::deviceNotConnected(). With an attachment number other than 0
// (Device::attachment) it resolves only while that attachment is the one attached under the id.
using RepositoryProvider = std::function<QFuture<std::shared_ptr<FileRepository>>(
    const QString& deviceId, quint64 attachment)>;

} // namespace qb
