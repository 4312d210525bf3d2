#pragma once

#include "core/device/file_repository.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPromise>
#include <QString>
#include <QWaitCondition>

#include <memory>

namespace qb::test {

// A repository whose operations succeed, fail or stay open until the test ends them, with a
// log of every call. Held operations make pause, cancel and resume races deterministic.
class FakeFileRepository : public FileRepository
{
public:
    struct Call
    {
        QString
            operation;  // "list", "download", "upload", "createFolder", "delete", "rename", "move"
        QString path;   // phone path; the local file for "upload"
        QString target; // local file, destination folder, new name
        ProgressFn progress;
        QPromise<void> promise;
    };
    enum class Behaviour { Succeed, Fail, Hold };

    void setBehaviour(const QString& operation, Behaviour behaviour);
    // The next `count` calls of the operation fail with a transfer error giving `reason`.
    void failNext(const QString& operation, int count, const QString& reason = "cable pulled");

    // Waits (up to ten seconds) for the index-th call of an operation; null on time-out.
    std::shared_ptr<Call> waitForCall(const QString& operation, int index = 0);
    // Waits for the first call of an operation on a path (workers call in any order).
    std::shared_ptr<Call> waitForCall(const QString& operation, const QString& path);
    int callCount(const QString& operation) const;
    QList<std::shared_ptr<Call>> calls() const;

    // Ends a held call. A download writes downloadContent to its local file first.
    void succeed(Call& call);
    void fail(Call& call, const QString& reason = "cable pulled");
    // Fails every held call and every later one, so that no worker stays waiting.
    void shutDown();

    QByteArray downloadContent = "bytes from the phone";

    QFuture<QList<FileItem>> listFiles(const QString& folderPath) override;
    QFuture<void> downloadFile(const QString& path, const QString& localFilePath,
                               ProgressFn progress) override;
    QFuture<void> uploadFile(const QString& localFilePath, const QString& folderPath,
                             ProgressFn progress) override;
    QFuture<void> createFolder(const QString& name, const QString& parentPath) override;
    QFuture<void> deleteItem(const QString& path) override;
    QFuture<void> renameItem(const QString& path, const QString& newName) override;
    QFuture<void> moveItem(const QString& path, const QString& destinationFolderPath) override;

private:
    QFuture<void> begin(const QString& operation, const QString& path, const QString& target,
                        ProgressFn progress);

    mutable QMutex m_mutex;
    QWaitCondition m_called;
    QList<std::shared_ptr<Call>> m_calls;
    QHash<QString, Behaviour> m_behaviours;
    QHash<QString, QList<QString>> m_failures;
    bool m_shutDown = false;
};

} // namespace qb::test
