#pragma once

#include "core/device/file_repository.h"
#include "platform/futures.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include <mutex>
#include <optional>

namespace qb {

// An in-memory phone: files by path, a call log, and one programmable failure per operation.
class FakeFileRepository : public FileRepository
{
public:
    QHash<QString, QByteArray> files;            // phone path -> bytes
    QHash<QString, QByteArray> uploaded;         // folder path + "/" + file name -> bytes
    QHash<QString, std::exception_ptr> failures; // operation name -> error to fail with
    QStringList downloadedTo;                    // local paths that downloads wrote

    QStringList calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override
    {
        if (auto error = record("list " + folderPath, "list"))
            return failedFuture<QList<FileItem>>(error);
        return readyFuture(QList<FileItem>{});
    }

    QFuture<void> downloadFile(const QString& path, const QString& localFilePath,
                               ProgressFn progress) override
    {
        if (auto error = record("download " + path, "download"))
            return failedFuture<void>(error);
        QFile out(localFilePath);
        if (!out.open(QIODevice::WriteOnly))
            return failedFuture<void>(FileRepositoryError::transferFailed("cannot write"));
        const QByteArray bytes = files.value(path);
        out.write(bytes);
        downloadedTo.append(localFilePath);
        if (progress)
            progress(bytes.size(), bytes.size());
        return readyFuture();
    }

    QFuture<void> uploadFile(const QString& localFilePath, const QString& folderPath,
                             ProgressFn progress) override
    {
        if (auto error = record("upload " + localFilePath + " -> " + folderPath, "upload"))
            return failedFuture<void>(error);
        QFile in(localFilePath);
        if (!in.open(QIODevice::ReadOnly))
            return failedFuture<void>(FileRepositoryError::transferFailed("cannot read"));
        const QByteArray bytes = in.readAll();
        uploaded.insert(folderPath + "/" + localFilePath.section('/', -1), bytes);
        if (progress)
            progress(bytes.size(), bytes.size());
        return readyFuture();
    }

    QFuture<void> createFolder(const QString& name, const QString& parentPath) override
    {
        if (auto error = record("create " + name + " in " + parentPath, "create"))
            return failedFuture<void>(error);
        return readyFuture();
    }

    QFuture<void> deleteItem(const QString& path) override
    {
        if (auto error = record("delete " + path, "delete"))
            return failedFuture<void>(error);
        files.remove(path);
        return readyFuture();
    }

    QFuture<void> renameItem(const QString& path, const QString& newName) override
    {
        if (auto error = record("rename " + path + " to " + newName, "rename"))
            return failedFuture<void>(error);
        return readyFuture();
    }

    QFuture<void> moveItem(const QString& path, const QString& destinationFolderPath) override
    {
        if (auto error = record("move " + path + " -> " + destinationFolderPath, "move"))
            return failedFuture<void>(error);
        return readyFuture();
    }

private:
    std::exception_ptr record(const QString& call, const QString& operation)
    {
        std::lock_guard lock(m_mutex);
        m_calls.append(call);
        return failures.value(operation);
    }

    mutable std::mutex m_mutex;
    QStringList m_calls;
};

} // namespace qb
