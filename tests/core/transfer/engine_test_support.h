#pragma once

#include "core/transfer/transfer_job.h"
#include "core/transfer/transfer_job_stream.h"
#include "platform/preference_store.h"
#include "support/test_support.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace qb {
class TransferQueueActor;
}

namespace qb::test {

// Delivers what other threads have already posted to the test thread.
void drainEvents();

// Waits for a future while the test thread's events keep flowing.
bool waitFor(const QFuture<void>& future);

// A steady clock that moves only when the test says so. Safe from any thread.
class FakeClock
{
public:
    std::chrono::steady_clock::time_point now() const;
    void advance(std::chrono::nanoseconds step);
    std::function<std::chrono::steady_clock::time_point()> function() const;

private:
    std::shared_ptr<std::atomic<std::chrono::nanoseconds::rep>> m_ticks =
        std::make_shared<std::atomic<std::chrono::nanoseconds::rep>>(1'000'000'000);
};

class MemoryPreferenceStore : public PreferenceStore
{
public:
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;

private:
    mutable QMutex m_mutex;
    QHash<QString, QVariant> m_values;
};

// Keeps every job list the engine publishes to it.
class PublicationRecorder
{
public:
    explicit PublicationRecorder(TransferQueueActor& actor);
    ~PublicationRecorder();

    int count() const { return int(m_lists.size()); }
    QList<TransferJob> latest() const
    {
        return m_lists.isEmpty() ? QList<TransferJob>{} : m_lists.last();
    }
    const QList<QList<TransferJob>>& lists() const { return m_lists; }
    std::optional<TransferJob> job(const QUuid& id) const;
    TransferStatus status(const QUuid& id) const;
    // Waits until the latest publication shows the job in the status.
    bool waitForStatus(const QUuid& id, TransferStatus status);

private:
    std::unique_ptr<TransferJobStream> m_stream;
    QList<QList<TransferJob>> m_lists;
};

TransferJob downloadJob(const QString& phoneName, const QString& folder,
                        const QString& deviceId = QStringLiteral("unknown_1_2"));
TransferJob deleteJob(const QString& path, const QString& deviceId = QStringLiteral("unknown_1_2"));

} // namespace qb::test
