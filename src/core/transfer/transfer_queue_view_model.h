#pragma once

#include "core/transfer/transfer_job.h"
#include "core/transfer/transfer_job_stream.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QUuid>

#include <memory>

namespace qb {

class TransferQueueActor;

// The GUI thread's mirror of the engine's job list, with the lists and the figure the views
// show. It never changes a job: every action goes to the engine, and its effect shows here once
// the engine's publication has arrived. The engine must outlive it.
class TransferQueueViewModel : public QObject
{
    Q_OBJECT

public:
    explicit TransferQueueViewModel(TransferQueueActor& transferActor, QObject* parent = nullptr);
    ~TransferQueueViewModel() override;

    const QList<TransferJob>& jobs() const { return m_jobs; }
    QList<TransferJob> activeJobs() const;   // queued, running or paused
    QList<TransferJob> finishedJobs() const; // completed, failed or canceled
    // Plain mean of the running jobs' progress; 0 when none runs.
    double overallProgress() const;

    QFuture<void> enqueue(const TransferJob& job);
    QFuture<void> enqueue(const QList<TransferJob>& jobs);
    QFuture<void> pause(const QUuid& jobId);
    QFuture<void> resume(const QUuid& jobId);
    QFuture<void> cancel(const QUuid& jobId);
    QFuture<void> retry(const QUuid& jobId);
    QFuture<void> clearCompleted();

signals:
    void jobsChanged();
    // Every job that completed, as it stood then, even if it was cleared before the list that
    // showed it completed arrived. Emitted before the jobsChanged of the same publication.
    void jobsCompleted(const QList<TransferJob>& jobs);

private:
    void apply(const QList<TransferJob>& jobs);

    TransferQueueActor& m_transferActor;
    std::unique_ptr<TransferJobStream> m_updates;
    QList<TransferJob> m_jobs;
};

} // namespace qb
