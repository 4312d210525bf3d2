#include "engine_test_support.h"

#include "core/transfer/transfer_queue_actor.h"

#include <QCoreApplication>
#include <QUrl>

namespace qb::test {

void drainEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool waitFor(const QFuture<void>& future)
{
    return waitUntil([&] { return future.isFinished(); });
}

std::chrono::steady_clock::time_point FakeClock::now() const
{
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(m_ticks->load()));
}

void FakeClock::advance(std::chrono::nanoseconds step)
{
    m_ticks->fetch_add(step.count());
}

std::function<std::chrono::steady_clock::time_point()> FakeClock::function() const
{
    return [ticks = m_ticks] {
        return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ticks->load()));
    };
}

std::optional<QVariant> MemoryPreferenceStore::value(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    if (!m_values.contains(key))
        return std::nullopt;
    return m_values.value(key);
}

void MemoryPreferenceStore::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_mutex);
    m_values.insert(key, value);
}

PublicationRecorder::PublicationRecorder(TransferQueueActor& actor) : m_stream(actor.jobUpdates())
{
    QObject::connect(m_stream.get(), &TransferJobStream::published, m_stream.get(),
                     [this](const QList<TransferJob>& jobs) { m_lists.append(jobs); });
}

PublicationRecorder::~PublicationRecorder() = default;

std::optional<TransferJob> PublicationRecorder::job(const QUuid& id) const
{
    if (m_lists.isEmpty())
        return std::nullopt;
    for (const TransferJob& job : m_lists.last()) {
        if (job.id == id)
            return job;
    }
    return std::nullopt;
}

TransferStatus PublicationRecorder::status(const QUuid& id) const
{
    const auto found = job(id);
    return found ? found->status : TransferStatus::Queued;
}

bool PublicationRecorder::waitForStatus(const QUuid& id, TransferStatus status)
{
    return waitUntil([&] {
        const auto found = job(id);
        return found && found->status == status;
    });
}

TransferJob downloadJob(const QString& phoneName, const QString& folder, const QString& deviceId)
{
    return TransferJob::make(
        TransferType::Download,
        TransferEndpoint::android(deviceId, QStringLiteral("65537/7"), phoneName),
        TransferEndpoint::local(QUrl::fromLocalFile(folder)));
}

TransferJob deleteJob(const QString& path, const QString& deviceId)
{
    return TransferJob::make(TransferType::Delete,
                             TransferEndpoint::android(deviceId, path, QStringLiteral("item")),
                             TransferEndpoint::android(deviceId, path, QStringLiteral("item")));
}

} // namespace qb::test
