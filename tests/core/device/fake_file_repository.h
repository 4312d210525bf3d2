#pragma once

#include "core/device/file_repository.h"
#include "platform/futures.h"
#include "support/test_support.h"

#include <QFile>
#include <QHash>
#include <QPromise>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

namespace qb {

// An in-memory phone with a log of every call. An operation succeeds at once, fails as programmed
// (`failures`: every call; failNext(): the next few), or is held open until the test ends it with
// succeed() or fail(), which makes pause, cancel and resume races deterministic.
class FakeFileRepository : public FileRepository
{
public:
    struct Call
    {
        // "list", "info", "download", "upload", "create", "delete", "rename", "move"
        QString operation;
        QString path;   // phone path; the local file for "upload"
        QString target; // local file, destination folder, new name
        ProgressFn progress;
        QString text; // as calls() shows it
        QPromise<void> promise;
    };
    using CallPtr = std::shared_ptr<Call>;

    QHash<QString, QByteArray> files;            // phone path -> bytes; others read downloadContent
    QHash<QString, QByteArray> uploaded;         // folder path + "/" + file name -> bytes
    QHash<QString, std::exception_ptr> failures; // operation -> error every call fails with
    QStringList downloadedTo;                    // local paths that downloads wrote
    QByteArray downloadContent;

    QStringList calls() const
    {
        std::lock_guard lock(m_mutex);
        QStringList texts;
        for (const auto& call : m_calls)
            texts.append(call->text);
        return texts;
    }
    // The calls of the operation so far; of every operation for an empty one.
    QList<CallPtr> callsOf(const QString& operation) const
    {
        std::lock_guard lock(m_mutex);
        QList<CallPtr> result;
        for (const auto& call : m_calls) {
            if (operation.isEmpty() || call->operation == operation)
                result.append(call);
        }
        return result;
    }
    int callCount(const QString& operation) const { return int(callsOf(operation).size()); }
    // Waits for the index-th call of an operation (among those on `path` if one is given); null
    // on time-out.
    CallPtr waitForCall(const QString& operation, int index = 0, const QString& path = {}) const
    {
        CallPtr found;
        test::waitUntil(
            [&] {
                int seen = 0;
                for (const auto& call : callsOf(operation)) {
                    if ((path.isEmpty() || call->path == path) && seen++ == index)
                        return bool(found = call);
                }
                return false;
            },
            10000);
        return found;
    }

    void setHold(const QString& operation, bool hold)
    {
        std::lock_guard lock(m_mutex);
        hold ? void(m_held.insert(operation)) : void(m_held.remove(operation));
    }
    // The next `count` calls of the operation fail with `error`, or a transfer failure.
    void failNext(const QString& operation, int count, std::exception_ptr error = nullptr)
    {
        std::lock_guard lock(m_mutex);
        m_next[operation] += QList<std::exception_ptr>(
            count,
            error ? error
                  : std::make_exception_ptr(FileRepositoryError::transferFailed("cable pulled")));
    }

    // Ends a held call with its effect: a download writes its file, an upload reads its.
    void succeed(Call& call)
    {
        qint64 size = 0;
        try {
            std::lock_guard lock(m_mutex);
            if (call.operation == u"download") {
                QFile out(call.target);
                if (!out.open(QIODevice::WriteOnly))
                    throw FileRepositoryError::transferFailed("cannot write");
                size = out.write(files.value(call.path, downloadContent));
                downloadedTo.append(call.target);
            } else if (call.operation == u"upload") {
                QFile in(call.path);
                if (!in.open(QIODevice::ReadOnly))
                    throw FileRepositoryError::transferFailed("cannot read");
                const QByteArray bytes = in.readAll();
                size = bytes.size();
                uploaded.insert(call.target + "/" + call.path.section('/', -1), bytes);
            } else if (call.operation == u"delete") {
                files.remove(call.path);
            }
        } catch (...) {
            return fail(call, std::current_exception());
        }
        if (call.progress)
            call.progress(size, size);
        call.promise.finish();
    }
    void fail(Call& call, const QString& reason = "cable pulled")
    {
        fail(call, std::make_exception_ptr(FileRepositoryError::transferFailed(reason)));
    }
    // A failed download leaves a partial file.
    void fail(Call& call, std::exception_ptr error)
    {
        if (QFile file(call.target);
            call.operation == u"download" && file.open(QIODevice::WriteOnly))
            file.write("trunc");
        call.promise.setException(error);
        call.promise.finish();
    }
    // Fails every held call and every later one, so that no worker stays waiting.
    void shutDown()
    {
        m_shutDown = true;
        for (const auto& call : callsOf({})) {
            if (!call->promise.future().isFinished())
                fail(*call, "shut down");
        }
    }

    // A folder lists the files uploaded into it.
    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override
    {
        return begin("list", folderPath, {}, {}, "list " + folderPath).then([this, folderPath] {
            std::lock_guard lock(m_mutex);
            QList<FileItem> items;
            for (auto it = uploaded.cbegin(); it != uploaded.cend(); ++it) {
                if (it.key().section('/', 0, -2) != folderPath)
                    continue;
                FileItem item;
                item.name = it.key().section('/', -1);
                item.size = it.value().size();
                items.append(item);
            }
            return items;
        });
    }
    // A file's size is that of the bytes a download of it gives.
    QFuture<FileItem> itemInfo(const QString& path) override
    {
        return begin("info", path, {}, {}, "info " + path).then([this, path] {
            std::lock_guard lock(m_mutex);
            FileItem item;
            item.id = item.path = path;
            item.size = files.value(path, downloadContent).size();
            return item;
        });
    }
    QFuture<void> downloadFile(const QString& path, const QString& local, ProgressFn p) override
    {
        return begin("download", path, local, std::move(p), "download " + path);
    }
    QFuture<void> uploadFile(const QString& local, const QString& folder, ProgressFn p) override
    {
        return begin("upload", local, folder, std::move(p), "upload " + local + " -> " + folder);
    }
    QFuture<void> createFolder(const QString& name, const QString& parent) override
    {
        return begin("create", parent, name, {}, "create " + name + " in " + parent);
    }
    QFuture<void> deleteItem(const QString& path) override
    {
        return begin("delete", path, {}, {}, "delete " + path);
    }
    QFuture<void> renameItem(const QString& path, const QString& newName) override
    {
        return begin("rename", path, newName, {}, "rename " + path + " to " + newName);
    }
    QFuture<void> moveItem(const QString& path, const QString& folder) override
    {
        return begin("move", path, folder, {}, "move " + path + " -> " + folder);
    }

private:
    QFuture<void> begin(const QString& operation, const QString& path, const QString& target,
                        ProgressFn progress, const QString& text)
    {
        auto call =
            std::make_shared<Call>(Call{operation, path, target, std::move(progress), text, {}});
        call->promise.start();
        bool hold;
        std::exception_ptr error;
        {
            std::lock_guard lock(m_mutex);
            m_calls.append(call);
            hold = m_held.contains(operation);
            error = m_next.value(operation).isEmpty() ? failures.value(operation)
                                                      : m_next[operation].takeFirst();
            if (m_shutDown)
                error = std::make_exception_ptr(FileRepositoryError::transferFailed("shut down"));
        }
        if (error)
            fail(*call, error);
        else if (!hold)
            succeed(*call);
        return call->promise.future();
    }

    mutable std::mutex m_mutex;
    QList<CallPtr> m_calls;
    QSet<QString> m_held;
    QHash<QString, QList<std::exception_ptr>> m_next;
    std::atomic<bool> m_shutDown = false;
};

} // namespace qb
