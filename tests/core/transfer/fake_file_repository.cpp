#include "fake_file_repository.h"

#include "platform/futures.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <system_error>

namespace qb::test {

void FakeFileRepository::setBehaviour(const QString& operation, Behaviour behaviour)
{
    QMutexLocker lock(&m_mutex);
    m_behaviours.insert(operation, behaviour);
}

void FakeFileRepository::failNext(const QString& operation, int count, const QString& reason)
{
    QMutexLocker lock(&m_mutex);
    for (int i = 0; i < count; ++i)
        m_failures[operation].append(reason);
}

std::shared_ptr<FakeFileRepository::Call> FakeFileRepository::waitForCall(const QString& operation,
                                                                          int index)
{
    QDeadlineTimer deadline(10000);
    QMutexLocker lock(&m_mutex);
    for (;;) {
        int seen = 0;
        for (const auto& call : m_calls) {
            if (call->operation == operation && seen++ == index)
                return call;
        }
        if (!m_called.wait(&m_mutex, deadline))
            return nullptr;
    }
}

std::shared_ptr<FakeFileRepository::Call> FakeFileRepository::waitForCall(const QString& operation,
                                                                          const QString& path)
{
    QDeadlineTimer deadline(10000);
    QMutexLocker lock(&m_mutex);
    for (;;) {
        for (const auto& call : m_calls) {
            if (call->operation == operation && call->path == path)
                return call;
        }
        if (!m_called.wait(&m_mutex, deadline))
            return nullptr;
    }
}

int FakeFileRepository::callCount(const QString& operation) const
{
    QMutexLocker lock(&m_mutex);
    int count = 0;
    for (const auto& call : m_calls)
        count += call->operation == operation ? 1 : 0;
    return count;
}

QList<std::shared_ptr<FakeFileRepository::Call>> FakeFileRepository::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

void FakeFileRepository::succeed(Call& call)
{
    if (call.operation == QLatin1String("download")) {
        QFile file(call.target);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(downloadContent);
        if (call.progress)
            call.progress(downloadContent.size(), downloadContent.size());
    } else if (call.operation == QLatin1String("upload") && call.progress) {
        const qint64 size = QFileInfo(call.path).size();
        call.progress(size, size);
    }
    call.promise.finish();
}

void FakeFileRepository::shutDown()
{
    QList<std::shared_ptr<Call>> open;
    {
        QMutexLocker lock(&m_mutex);
        m_shutDown = true;
        for (const auto& call : m_calls) {
            if (!call->promise.future().isFinished())
                open.append(call);
        }
    }
    for (const auto& call : open)
        fail(*call, QStringLiteral("shut down"));
}

void FakeFileRepository::fail(Call& call, const QString& reason)
{
    // "ENOSPC" stands for the local disk filling up under the write.
    call.promise.setException(
        reason == u"ENOSPC"
            ? std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category()))
            : std::make_exception_ptr(FileRepositoryError::transferFailed(reason)));
    call.promise.finish();
}

QFuture<void> FakeFileRepository::begin(const QString& operation, const QString& path,
                                        const QString& target, ProgressFn progress)
{
    auto call = std::make_shared<Call>();
    call->operation = operation;
    call->path = path;
    call->target = target;
    call->progress = std::move(progress);
    call->promise.start();
    QFuture<void> future = call->promise.future();
    Behaviour behaviour;
    std::optional<QString> failure;
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(call);
        behaviour = m_behaviours.value(operation, Behaviour::Succeed);
        if (auto it = m_failures.find(operation); it != m_failures.end() && !it->isEmpty())
            failure = it->takeFirst();
        if (m_shutDown)
            failure = QStringLiteral("shut down");
        m_called.wakeAll();
    }
    if (failure)
        fail(*call, *failure);
    else if (behaviour == Behaviour::Succeed)
        succeed(*call);
    else if (behaviour == Behaviour::Fail)
        fail(*call);
    return future;
}

QFuture<QList<FileItem>> FakeFileRepository::listFiles(const QString& folderPath)
{
    begin(QStringLiteral("list"), folderPath, {}, {});
    return readyFuture(QList<FileItem>{});
}

QFuture<void> FakeFileRepository::downloadFile(const QString& path, const QString& localFilePath,
                                               ProgressFn progress)
{
    return begin(QStringLiteral("download"), path, localFilePath, std::move(progress));
}

QFuture<void> FakeFileRepository::uploadFile(const QString& localFilePath,
                                             const QString& folderPath, ProgressFn progress)
{
    return begin(QStringLiteral("upload"), localFilePath, folderPath, std::move(progress));
}

QFuture<void> FakeFileRepository::createFolder(const QString& name, const QString& parentPath)
{
    return begin(QStringLiteral("createFolder"), parentPath, name, {});
}

QFuture<void> FakeFileRepository::deleteItem(const QString& path)
{
    return begin(QStringLiteral("delete"), path, {}, {});
}

QFuture<void> FakeFileRepository::renameItem(const QString& path, const QString& newName)
{
    return begin(QStringLiteral("rename"), path, newName, {});
}

QFuture<void> FakeFileRepository::moveItem(const QString& path,
                                           const QString& destinationFolderPath)
{
    // Like the phone's repository: moving in place is never possible.
    begin(QStringLiteral("move"), path, destinationFolderPath, {});
    return failedFuture<void>(FileRepositoryError::moveNotSupported());
}

} // namespace qb::test
