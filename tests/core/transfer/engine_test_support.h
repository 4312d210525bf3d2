#pragma once

#include "core/transfer/transfer_job.h"
#include "core/transfer/transfer_job_stream.h"
#include "core/transfer/transfer_queue_actor.h"
#include "platform/preference_store.h"
#include "support/test_support.h"

#include <QFuture>
#include <QHash>
#include <QMutex>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

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
class FakeClock
{
public:
    using Time = std::chrono::steady_clock::time_point;
    Time now() const { return Time(std::chrono::nanoseconds(m_ticks->load())); }
    void advance(std::chrono::nanoseconds step) { m_ticks->fetch_add(step.count()); }
    std::function<Time()> function() const
    {
        return [ticks = m_ticks] {
            return Time(std::chrono::nanoseconds(ticks->load()));
        };
    }

private:
    std::shared_ptr<std::atomic<std::chrono::nanoseconds::rep>> m_ticks =
        std::make_shared<std::atomic<std::chrono::nanoseconds::rep>>(1'000'000'000);
};

class MemoryPreferenceStore : public PreferenceStore
{
public:
    std::optional<QVariant> value(const QString& key) const override
    {
        QMutexLocker lock(&m_mutex);
        return m_values.contains(key) ? std::optional(m_values.value(key)) : std::nullopt;
    }
    void setValue(const QString& key, const QVariant& value) override
    {
        QMutexLocker lock(&m_mutex);
        m_values.insert(key, value);
    }

private:
    mutable QMutex m_mutex;
    QHash<QString, QVariant> m_values;
};

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
    std::optional<TransferJob> job(const QUuid& id) const
    {
        for (const TransferJob& job : m_latest) {
            if (job.id == id)
                return job;
        }
        return std::nullopt;
    }
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

inline TransferJob downloadJob(const QString& phoneName, const QString& folder)
{
    return TransferJob::make(TransferType::Download,
                             TransferEndpoint::android("unknown_1_2", "65537/7", phoneName),
                             TransferEndpoint::local(QUrl::fromLocalFile(folder)));
}

inline TransferJob deleteJob(const QString& path)
{
    const auto item = TransferEndpoint::android("unknown_1_2", path, "item");
    return TransferJob::make(TransferType::Delete, item, item);
}

} // namespace qb::test
