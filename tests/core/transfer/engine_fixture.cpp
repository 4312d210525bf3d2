#include "engine_fixture.h"

#include "platform/futures.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <system_error>

namespace qb::test {

void FakeFileRepository::setHold(const QString& operation, bool hold)
{
    QMutexLocker lock(&m_mutex);
    hold ? void(m_held.insert(operation)) : void(m_held.remove(operation));
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
    std::shared_ptr<Call> found;
    waitUntil(
        [&] {
            QMutexLocker lock(&m_mutex);
            int seen = 0;
            for (const auto& call : m_calls) {
                if (call->operation == operation && seen++ == index)
                    return bool(found = call);
            }
            return false;
        },
        10000);
    return found;
}

std::shared_ptr<FakeFileRepository::Call> FakeFileRepository::waitForCall(const QString& operation,
                                                                          const QString& path)
{
    for (int index = 0;; ++index) {
        auto call = waitForCall(operation, index);
        if (!call || call->path == path)
            return call;
    }
}

int FakeFileRepository::callCount(const QString& operation) const
{
    QMutexLocker lock(&m_mutex);
    return int(std::count_if(m_calls.begin(), m_calls.end(), [&](const auto& call) {
        return operation.isEmpty() || call->operation == operation;
    }));
}

void FakeFileRepository::succeed(Call& call)
{
    qint64 size = QFileInfo(call.path).size();
    if (call.operation == u"download") {
        QFile file(call.target);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(downloadContent);
        size = downloadContent.size();
    }
    if (call.progress)
        call.progress(size, size);
    call.promise.finish();
}

void FakeFileRepository::fail(Call& call, const QString& reason)
{
    call.promise.setException(
        reason == u"ENOSPC"
            ? std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category()))
            : std::make_exception_ptr(FileRepositoryError::transferFailed(reason)));
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
        fail(*call, "shut down");
}

QFuture<void> FakeFileRepository::begin(const QString& operation, const QString& path,
                                        const QString& target, ProgressFn progress)
{
    auto call = std::make_shared<Call>(Call{operation, path, target, std::move(progress), {}});
    call->promise.start();
    QFuture<void> future = call->promise.future();
    bool hold;
    std::optional<QString> failure;
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(call);
        hold = m_held.contains(operation);
        if (auto it = m_failures.find(operation); it != m_failures.end() && !it->isEmpty())
            failure = it->takeFirst();
        if (m_shutDown)
            failure = "shut down";
    }
    if (failure)
        fail(*call, *failure);
    else if (!hold)
        succeed(*call);
    return future;
}

QFuture<QList<FileItem>> FakeFileRepository::listFiles(const QString& folder)
{
    begin("list", folder, {}, {});
    return readyFuture(QList<FileItem>{});
}

QFuture<void> FakeFileRepository::moveItem(const QString& path, const QString& folder)
{
    // Like the phone's repository: moving in place is never possible.
    begin("move", path, folder, {});
    return failedFuture<void>(FileRepositoryError::moveNotSupported());
}

void EngineFixture::TearDown()
{
    // Held operations end first, so that no worker is left waiting when the engine goes.
    repository->shutDown();
    recorder.reset();
    engine.reset();
}

RepositoryProvider EngineFixture::provider()
{
    return [repository = repository](const QString&) {
        return readyFuture<std::shared_ptr<FileRepository>>(repository);
    };
}

void EngineFixture::makeEngine(bool installProvider)
{
    TransferQueueActor::Options options;
    options.preferences = preferences;
    options.clock = clock.function();
    options.publishSpacing = std::chrono::milliseconds(0);
    engine = std::make_unique<TransferQueueActor>(options);
    if (installProvider)
        engine->setRepositoryProvider(provider());
    recorder = std::make_unique<PublicationRecorder>(*engine);
}

std::shared_ptr<FakeFileRepository::Call> EngineFixture::held(const QString& operation, int index)
{
    auto call = repository->waitForCall(operation, index);
    EXPECT_TRUE(call) << "no call " << index << " of " << operation.toStdString();
    return call;
}

} // namespace qb::test
