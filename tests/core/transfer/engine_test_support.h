#pragma once

#include "core/device/fake_file_repository.h"
#include "core/transfer/transfer_job.h"
#include "core/transfer/transfer_job_stream.h"
#include "core/transfer/transfer_queue_actor.h"
#include "platform/futures.h"
#include "platform/preference_store.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
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
    const auto it = std::ranges::find(jobs, id, &TransferJob::id);
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

// An engine over a fake repository, with a fake clock, preferences in a temporary file and a
// temporary download folder; publications are recorded from the start.
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
        repository->downloadContent = "bytes from the phone";
        // Like the phone's repository: moving in place is never possible.
        repository->failures.insert(
            "move", std::make_exception_ptr(FileRepositoryError::moveNotSupported()));
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
        return [repository = repository](const QString&, quint64) {
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
