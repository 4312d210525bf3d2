#pragma once

#include "core/device/file_repository.h"
#include "core/transfer/transfer_attempt.h"
#include "core/transfer/transfer_clock.h"
#include "core/transfer/transfer_job.h"
#include "core/transfer/transfer_job_stream.h"
#include "platform/logger.h"
#include "platform/preference_store.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class QObject;
class QThread;
class QThreadPool;
class QTimer;

namespace qb {

class CommitStep;
class UnfinishedDownloads;

// The transfer engine: the ordered list of jobs, scheduling (two at a time), retries, pause,
// resume, cancel, and publication of the whole list. Its state lives on a thread of its own;
// every public call may be made from any thread, is queued there, and its future finishes once
// the engine has applied it. Job operations run on worker threads and reach phones only through
// the repository provider; their outcomes come back to the engine tagged with their attempt.
class TransferQueueActor
{
public:
    struct Options
    {
        // Where "overwriteRule" is read for every download; the user's settings when empty.
        std::shared_ptr<PreferenceStore> preferences;
        TransferClock clock = steadyTransferClock(); // progress gate and speed
        // Shortest time between two publications; changes made meanwhile go out together.
        // Long lists stretch it (publicationSpacingPerJob each), so that copying the list for
        // its listener stays a small share of the engine's work however long the list grows.
        std::chrono::milliseconds publishSpacing{20};
        // How long the engine's end waits for finished downloads to be written to disk under
        // their names; a disk slower than that keeps the rest under their temporary names.
        std::chrono::milliseconds commitShutdownWait{10'000};
    };

    static constexpr int maxConcurrent = 2;
    static constexpr int maxRetries = 3;
    static constexpr std::chrono::microseconds publicationSpacingPerJob{4};

    TransferQueueActor();
    explicit TransferQueueActor(Options options);
    ~TransferQueueActor();
    TransferQueueActor(const TransferQueueActor&) = delete;
    TransferQueueActor& operator=(const TransferQueueActor&) = delete;

    QFuture<void> enqueue(const TransferJob& job);
    QFuture<void> enqueue(const QList<TransferJob>& jobs);
    // Takes effect at once, on any thread: every attempt that starts after this returns uses
    // the new provider. Install it before enqueuing, and no job can start without one.
    void setRepositoryProvider(RepositoryProvider provider);
    QFuture<void> pause(const QUuid& jobId);
    QFuture<void> resume(const QUuid& jobId);
    QFuture<void> cancel(const QUuid& jobId);
    QFuture<void> retry(const QUuid& jobId);
    QFuture<void> clearCompleted();

    // A new stream on the calling thread; from now on only it receives publications. Earlier
    // publications are not replayed: the next one carries the whole list.
    std::unique_ptr<TransferJobStream> jobUpdates();

private:
    class Mailbox;
    struct SpeedSample
    {
        qint64 lastBytes = 0;
        std::chrono::steady_clock::time_point lastTime;
    };

    QFuture<void> call(std::function<void()> work);

    // Engine thread only.
    void addJobs(const QList<TransferJob>& jobs);
    void pauseJob(const QUuid& jobId);
    void resumeJob(const QUuid& jobId);
    void cancelJob(const QUuid& jobId);
    void retryJob(const QUuid& jobId);
    void clearFinishedJobs();
    void processQueue();
    void startJob(qsizetype index);
    void finishAttempt(const QUuid& jobId, quint64 attemptId,
                       const TransferAttempt::Result& outcome);
    void finishCommit(const QUuid& jobId, quint64 attemptId,
                      const TransferAttempt::Result& outcome);
    void settle(const QUuid& jobId, bool attached, const TransferAttempt::Result& outcome);
    void moveCopied(const QUuid& jobId, const TransferAttempt::CopiedSource& source);
    void updateProgress(const QUuid& jobId, quint64 attemptId, qint64 bytesTransferred,
                        qint64 totalBytes);
    void publish();
    void sendPublication();
    qsizetype indexOf(const QUuid& jobId) const;
    void markQueued(qsizetype index);
    void rebuildIndex();

    Options m_options;
    Logger m_log;
    QThread* m_thread;
    QObject* m_context; // lives on m_thread; everything queued to the engine goes through it
    QTimer* m_publishTimer;
    std::shared_ptr<Mailbox> m_mailbox;
    std::unique_ptr<QThreadPool> m_pool;
    // The workers hand it their finished downloads while the engine lives.
    std::shared_ptr<CommitStep> m_commits;
    // The downloads whose file is not committed yet; those left when the engine goes are given up.
    std::shared_ptr<UnfinishedDownloads> m_unfinishedDownloads;

    std::mutex m_providerMutex;
    RepositoryProvider m_repositoryProvider;
    std::mutex m_listenerMutex;
    std::shared_ptr<TransferJobStream::Inbox> m_listener;

    // Engine thread only.
    QList<TransferJob> m_jobs;
    QHash<QUuid, qsizetype> m_indexById;
    qsizetype m_firstMaybeQueued = 0;     // no job before it is queued
    QHash<QUuid, quint64> m_runningTasks; // jobs holding a slot, with their attempt
    // Attempts whose operation is still under way, a download's commit included.
    QHash<QUuid, quint64> m_operations;
    // Moves whose copy is on the phone and whose source is still to be deleted, with the source
    // as it was copied.
    QHash<QUuid, TransferAttempt::CopiedSource> m_movesCopied;
    QHash<QUuid, SpeedSample> m_speedTracking;
    QHash<QUuid, std::chrono::steady_clock::time_point> m_lastPublishTime;
    // Jobs completed since the last publication; each goes out once with the next one.
    QList<TransferJob> m_completedSincePublication;
    quint64 m_nextAttemptId = 1;
    QElapsedTimer m_sinceLastPublication;
};

} // namespace qb
