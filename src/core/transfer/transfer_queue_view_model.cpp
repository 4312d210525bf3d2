#include "core/transfer/transfer_queue_view_model.h"

#include "core/transfer/transfer_queue_actor.h"

namespace qb {
namespace {

bool sameEndpoint(const TransferEndpoint& a, const TransferEndpoint& b)
{
    return a.kind == b.kind && a.deviceId == b.deviceId && a.path == b.path && a.name == b.name &&
           a.attachment == b.attachment && a.url == b.url;
}

// Every field, so that only a real change is signalled.
bool sameJob(const TransferJob& a, const TransferJob& b)
{
    const auto sameError = [](const std::optional<TransferError>& x,
                              const std::optional<TransferError>& y) {
        return x.has_value() == y.has_value() && (!x || x->localizedMessage == y->localizedMessage);
    };
    return a.id == b.id && a.type == b.type && a.status == b.status && a.progress == b.progress &&
           a.bytesTransferred == b.bytesTransferred && a.totalBytes == b.totalBytes &&
           sameEndpoint(a.source, b.source) && sameEndpoint(a.destination, b.destination) &&
           sameError(a.error, b.error) && a.retryCount == b.retryCount &&
           a.createdAt == b.createdAt && a.transferSpeed == b.transferSpeed;
}

bool sameJobs(const QList<TransferJob>& a, const QList<TransferJob>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!sameJob(a.at(i), b.at(i)))
            return false;
    }
    return true;
}

bool isActive(TransferStatus status)
{
    return !isFinished(status);
}

} // namespace

TransferQueueViewModel::TransferQueueViewModel(TransferQueueActor& transferActor, QObject* parent)
    : QObject(parent), m_transferActor(transferActor), m_updates(transferActor.jobUpdates())
{
    connect(m_updates.get(), &TransferJobStream::completed, this,
            &TransferQueueViewModel::jobsCompleted);
    connect(m_updates.get(), &TransferJobStream::published, this, &TransferQueueViewModel::apply);
}

TransferQueueViewModel::~TransferQueueViewModel() = default;

QList<TransferJob> TransferQueueViewModel::activeJobs() const
{
    QList<TransferJob> result;
    for (const TransferJob& job : m_jobs) {
        if (isActive(job.status))
            result.append(job);
    }
    return result;
}

QList<TransferJob> TransferQueueViewModel::finishedJobs() const
{
    QList<TransferJob> result;
    for (const TransferJob& job : m_jobs) {
        if (isFinished(job.status))
            result.append(job);
    }
    return result;
}

double TransferQueueViewModel::overallProgress() const
{
    double sum = 0;
    int running = 0;
    for (const TransferJob& job : m_jobs) {
        if (job.status == TransferStatus::Running) {
            sum += job.progress;
            ++running;
        }
    }
    return running == 0 ? 0.0 : sum / running;
}

QFuture<void> TransferQueueViewModel::enqueue(const TransferJob& job)
{
    return m_transferActor.enqueue(job);
}

QFuture<void> TransferQueueViewModel::enqueue(const QList<TransferJob>& jobs)
{
    return m_transferActor.enqueue(jobs);
}

QFuture<void> TransferQueueViewModel::pause(const QUuid& jobId)
{
    return m_transferActor.pause(jobId);
}

QFuture<void> TransferQueueViewModel::resume(const QUuid& jobId)
{
    return m_transferActor.resume(jobId);
}

QFuture<void> TransferQueueViewModel::cancel(const QUuid& jobId)
{
    return m_transferActor.cancel(jobId);
}

QFuture<void> TransferQueueViewModel::retry(const QUuid& jobId)
{
    return m_transferActor.retry(jobId);
}

QFuture<void> TransferQueueViewModel::clearCompleted()
{
    return m_transferActor.clearCompleted();
}

void TransferQueueViewModel::apply(const QList<TransferJob>& jobs)
{
    if (sameJobs(m_jobs, jobs))
        return;
    m_jobs = jobs;
    emit jobsChanged();
}

} // namespace qb
