#pragma once

#include "core/device/file_repository.h"
#include "core/transfer/transfer_job.h"
#include "core/transfer/transfer_job_stream.h"
#include "core/transfer/transfer_queue_actor.h"
#include "platform/futures.h"
#include "platform/preference_store.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QMutex>
#include <QPromise>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <system_error>

namespace qb::test {

// Delivers what other threads have already posted to the test thread.
inline void drainEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

inline bool waitFor(const QFuture<void>& future)
{
    return waitUntil([&] { return future.isFinished(); });
}

// A steady clock that moves only when the test says so. Safe from any thread.
struct FakeClock
{
    void advance(std::chrono::nanoseconds step) const { *ticks += step.count(); }
    std::function<std::chrono::steady_clock::time_point()> function() const
    {
        return [ticks = ticks] {
            return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(*ticks));
        };
    }
    std::shared_ptr<std::atomic<qint64>> ticks =
        std::make_shared<std::atomic<qint64>>(1'000'000'000);
};

inline std::optional<TransferJob> findJob(const QList<TransferJob>& jobs, const QUuid& id)
{
    const auto it =
        std::find_if(jobs.begin(), jobs.end(), [&](const auto& j) { return j.id == id; });
    return it == jobs.end() ? std::nullopt : std::optional(*it);
}

// Keeps the count and the latest of the job lists the engine publishes to it.
class PublicationRecorder
{
public:
    explicit PublicationRecorder(TransferQueueActor& actor) : m_stream(actor.jobUpdates())
    {
        QObject::connect(m_stream.get(), &TransferJobStream::published, m_stream.get(),
                         [this](const QList<TransferJob>& jobs) { ++m_count, m_latest = jobs; });
    }
    int count() const { return m_count; }
    const QList<TransferJob>& latest() const { return m_latest; }
    std::optional<TransferJob> job(const QUuid& id) const { return findJob(m_latest, id); }
    // Waits until the latest publication shows the job in the status.
    bool waitForStatus(const QUuid& id, TransferStatus status)
    {
        return waitUntil([&] { return job(id) && job(id)->status == status; });
    }

private:
    std::unique_ptr<TransferJobStream> m_stream;
    int m_count = 0;
    QList<TransferJob> m_latest;
};

// A folder's entries, hidden ones too, by name.
inline QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

inline TransferJob downloadJob(const QString& phoneName, const QString& folder)
{
    return TransferJob::make(TransferType::Download,
                             TransferEndpoint::android("unknown_1_2", "65537/7", phoneName),
                             TransferEndpoint::local(QUrl::fromLocalFile(folder)));
}

inline TransferJob deleteJob(const QString& path, const QString& deviceId = "unknown_1_2")
{
    const auto item = TransferEndpoint::android(deviceId, path, "item");
    return TransferJob::make(TransferType::Delete, item, item);
}

// A repository whose operations succeed, or stay open until the test ends them, with a log of every
// call. Held operations make pause, cancel and resume races deterministic.
class FakeFileRepository : public FileRepository
{
public:
    struct Call
    {
        QString operation; // "download", "upload", "createFolder", "delete", "move"
        QString path;      // phone path; the local file for "upload"
        QString target;    // local file, destination folder, new name
        ProgressFn progress;
        QPromise<void> promise;
    };
    using CallPtr = std::shared_ptr<Call>;

    void setHold(const QString& operation, bool hold)
    {
        QMutexLocker lock(&m_mutex);
        hold ? void(m_held.insert(operation)) : void(m_held.remove(operation));
    }
    // The next `count` calls of the operation fail with `reason` ("ENOSPC": the disk is full).
    void failNext(const QString& operation, int count, const QString& reason = "cable pulled")
    {
        QMutexLocker lock(&m_mutex);
        m_failures[operation] += QStringList(count, reason);
    }
    // The calls of the operation so far; of every operation for an empty one.
    QList<CallPtr> calls(const QString& operation) const
    {
        QMutexLocker lock(&m_mutex);
        QList<CallPtr> result;
        for (const auto& call : m_calls) {
            if (operation.isEmpty() || call->operation == operation)
                result.append(call);
        }
        return result;
    }
    int callCount(const QString& operation) const { return int(calls(operation).size()); }
    // Waits for the index-th call of an operation (among those on `path` if one is given); null
    // on time-out.
    CallPtr waitForCall(const QString& operation, int index = 0, const QString& path = {}) const
    {
        CallPtr found;
        waitUntil(
            [&] {
                int seen = 0;
                for (const auto& call : calls(operation)) {
                    if ((path.isEmpty() || call->path == path) && seen++ == index)
                        return bool(found = call);
                }
                return false;
            },
            10000);
        return found;
    }

    // Ends a held call. A download writes downloadContent to its local file first.
    void succeed(Call& call)
    {
        qint64 size = QFileInfo(call.path).size();
        if (QFile file(call.target);
            call.operation == u"download" && file.open(QIODevice::WriteOnly))
            size = file.write(downloadContent);
        if (call.progress)
            call.progress(size, size);
        call.promise.finish();
    }
    // A failed download leaves a partial file.
    void fail(Call& call, const QString& reason = "cable pulled")
    {
        if (QFile file(call.target);
            call.operation == u"download" && file.open(QIODevice::WriteOnly))
            file.write("trunc");
        call.promise.setException(
            reason == u"ENOSPC"
                ? std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category()))
                : std::make_exception_ptr(FileRepositoryError::transferFailed(reason)));
        call.promise.finish();
    }
    // Fails every held call and every later one, so that no worker stays waiting.
    void shutDown()
    {
        m_shutDown = true;
        for (const auto& call : calls({})) {
            if (!call->promise.future().isFinished())
                fail(*call, "shut down");
        }
    }

    QByteArray downloadContent = "bytes from the phone";

    QFuture<QList<FileItem>> listFiles(const QString&) override { return {}; }
    QFuture<void> downloadFile(const QString& path, const QString& local, ProgressFn p) override
    {
        return begin("download", path, local, std::move(p));
    }
    QFuture<void> uploadFile(const QString& local, const QString& folder, ProgressFn p) override
    {
        return begin("upload", local, folder, std::move(p));
    }
    QFuture<void> createFolder(const QString& name, const QString& parent) override
    {
        return begin("createFolder", parent, name, {});
    }
    QFuture<void> deleteItem(const QString& path) override { return begin("delete", path, {}, {}); }
    QFuture<void> renameItem(const QString&, const QString&) override { return {}; }
    // Like the phone's repository: moving in place is never possible.
    QFuture<void> moveItem(const QString& path, const QString& folder) override
    {
        begin("move", path, folder, {});
        return failedFuture<void>(FileRepositoryError::moveNotSupported());
    }

private:
    QFuture<void> begin(const QString& operation, const QString& path, const QString& target,
                        ProgressFn progress)
    {
        auto call = std::make_shared<Call>(Call{operation, path, target, std::move(progress), {}});
        call->promise.start();
        bool hold;
        std::optional<QString> failure;
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append(call);
            hold = m_held.contains(operation);
            if (!m_failures.value(operation).isEmpty())
                failure = m_failures[operation].takeFirst();
            if (m_shutDown)
                failure = "shut down";
        }
        if (failure)
            fail(*call, *failure);
        else if (!hold)
            succeed(*call);
        return call->promise.future();
    }

    mutable QMutex m_mutex;
    QList<CallPtr> m_calls;
    QSet<QString> m_held;
    QHash<QString, QStringList> m_failures;
    std::atomic<bool> m_shutDown = false;
};

// An engine over a fake repository, with a fake clock, in-memory preferences and a temporary
// download folder; publications are recorded from the start.
class EngineFixture : public ::testing::Test
{
protected:
    EngineFixture()
    {
        ensureApplication();
        TransferQueueActor::Options options;
        options.preferences = preferences;
        options.clock = clock.function();
        options.publishSpacing = std::chrono::milliseconds(0);
        engine = std::make_unique<TransferQueueActor>(options);
        engine->setRepositoryProvider(provider());
        recorder = std::make_unique<PublicationRecorder>(*engine);
    }
    void TearDown() override
    {
        // Held operations end first, so that no worker is left waiting when the engine goes.
        repository->shutDown();
        recorder.reset();
        engine.reset();
    }

    RepositoryProvider provider()
    {
        return [repository = repository](const QString&) {
            return readyFuture<std::shared_ptr<FileRepository>>(repository);
        };
    }
    QString downloads() const { return m_downloads.path(); }

    FakeClock clock;
    QTemporaryDir m_settings;
    std::shared_ptr<PreferenceStore> preferences =
        std::make_shared<QSettingsPreferenceStore>(m_settings.filePath("prefs.ini"));
    std::shared_ptr<FakeFileRepository> repository = std::make_shared<FakeFileRepository>();
    std::unique_ptr<TransferQueueActor> engine;
    std::unique_ptr<PublicationRecorder> recorder;

private:
    QTemporaryDir m_downloads;
};

} // namespace qb::test
