#pragma once

#include "core/device/file_repository.h"
#include "platform/futures.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include <mutex>

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
        return done<QList<FileItem>>("list " + folderPath, "list");
    }
    QFuture<void> downloadFile(const QString& path, const QString& local, ProgressFn) override
    {
        return done("download " + path, "download", [&] {
            QFile out(local);
            if (!out.open(QIODevice::WriteOnly))
                throw FileRepositoryError::transferFailed("cannot write");
            out.write(files.value(path));
            downloadedTo.append(local);
        });
    }
    QFuture<void> uploadFile(const QString& local, const QString& folder, ProgressFn) override
    {
        return done("upload " + local + " -> " + folder, "upload", [&] {
            QFile in(local);
            if (!in.open(QIODevice::ReadOnly))
                throw FileRepositoryError::transferFailed("cannot read");
            uploaded.insert(folder + "/" + local.section('/', -1), in.readAll());
        });
    }
    QFuture<void> createFolder(const QString& name, const QString& parent) override
    {
        return done("create " + name + " in " + parent, "create");
    }
    QFuture<void> deleteItem(const QString& path) override
    {
        return done("delete " + path, "delete", [&] { files.remove(path); });
    }
    QFuture<void> renameItem(const QString& path, const QString& newName) override
    {
        return done("rename " + path + " to " + newName, "rename");
    }
    QFuture<void> moveItem(const QString& path, const QString& folder) override
    {
        return done("move " + path + " -> " + folder, "move");
    }

private:
    // Logs the call, then fails as programmed or does `effect` and succeeds.
    template <typename T = void, typename Effect = std::nullptr_t>
    QFuture<T> done(const QString& call, const QString& operation, Effect effect = nullptr)
    {
        std::exception_ptr error;
        {
            std::lock_guard lock(m_mutex);
            m_calls.append(call);
            error = failures.value(operation);
        }
        try {
            if (error)
                std::rethrow_exception(error);
            if constexpr (std::is_invocable_v<Effect>)
                effect();
        } catch (...) {
            return failedFuture<T>(std::current_exception());
        }
        if constexpr (std::is_void_v<T>)
            return readyFuture();
        else
            return readyFuture(T{});
    }

    mutable std::mutex m_mutex;
    QStringList m_calls;
};

} // namespace qb
