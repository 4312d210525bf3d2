#include "core/transfer/transfer_queue_actor.h"

#include "core/transfer/commit_step.h"
#include "core/transfer/download_target.h"
#include "core/transfer/progress_rate_gate.h"
#include "core/transfer/transfer_preferences.h"
#include "platform/local_files.h"

#include <QDir>
#include <QMetaObject>
#include <QObject>
#include <QPromise>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace qb {

// The way back into the engine for workers and progress handlers, which may outlive it: once
// closed, posts are dropped. Posting under the lock keeps the context alive meanwhile.
class TransferQueueActor::Mailbox
{
public:
    explicit Mailbox(QObject* context) : m_context(context) {}

    void post(std::function<void()> work)
    {
        std::lock_guard lock(m_mutex);
        if (m_context)
            QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_context = nullptr;
    }

private:
    std::mutex m_mutex;
    QObject* m_context;
};

namespace {

// Workers mostly wait for the phone; paused jobs whose operation still runs hold one too.
constexpr int maxWorkerThreads = 16;
constexpr int shutdownWaitMs = 3000;

} // namespace

TransferQueueActor::TransferQueueActor() : TransferQueueActor(Options{}) {}

TransferQueueActor::TransferQueueActor(Options options)
    : m_options(std::move(options)), m_log(Logger::transfer()), m_thread(new QThread),
      m_context(new QObject), m_publishTimer(new QTimer(m_context)),
      m_mailbox(std::make_shared<Mailbox>(m_context)), m_pool(std::make_unique<QThreadPool>()),
      m_commits(std::make_shared<CommitStep>(m_options.commitShutdownWait)),
      m_unfinishedDownloads(std::make_shared<UnfinishedDownloads>())
{
    if (!m_options.preferences)
        m_options.preferences = std::make_shared<QSettingsPreferenceStore>();
    if (!m_options.clock)
        m_options.clock = steadyTransferClock();
    m_pool->setMaxThreadCount(maxWorkerThreads);
    m_publishTimer->setSingleShot(true);
    QObject::connect(m_publishTimer, &QTimer::timeout, m_context, [this] { sendPublication(); });
    m_thread->setObjectName(QStringLiteral("TransferEngine"));
    m_context->moveToThread(m_thread);
    m_thread->start();
}

TransferQueueActor::~TransferQueueActor()
{
    m_mailbox->close();
    QMetaObject::invokeMethod(m_context, [this] {
        m_publishTimer->stop();
        m_thread->quit();
    });
    m_thread->wait();
    // Deleting the context drops the calls still queued to it; their futures end canceled.
    delete m_context;
    delete m_thread;
    const bool workersDone = m_pool->waitForDone(shutdownWaitMs);
    // Downloads already whole are committed before the engine goes, if the disk takes them within
    // the commit wait.
    m_commits.reset();
    // The downloads still running are given up, and their temporary files go now rather than
    // with a sweep a day later. A phone call still writing into one writes into a file without a
    // name; only temporary names are removed, never a final one. Not on a disk that did not
    // take the commits in time: removing files there could hang the quit as well, and the next
    // run's sweep finds them.
    if (!CommitStep::leftRunning())
        m_unfinishedDownloads->abandon();
    if (!workersDone) {
        // An operation that never ends must not hang the caller; its worker keeps only shared
        // state, so the pool is left to it.
        m_log.warning(QStringLiteral("Transfer workers still busy at shutdown"));
        (void)m_pool.release();
    }
}

QFuture<void> TransferQueueActor::call(std::function<void()> work)
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    m_mailbox->post([this, promise, work = std::move(work)] {
        try {
            work();
        } catch (const std::exception& e) {
            m_log.error(QStringLiteral("Transfer engine call failed: %1"),
                        {QString::fromUtf8(e.what())});
        }
        promise->finish();
    });
    return future;
}

QFuture<void> TransferQueueActor::enqueue(const TransferJob& job)
{
    return call([this, job] { addJobs({job}); });
}

QFuture<void> TransferQueueActor::enqueue(const QList<TransferJob>& jobs)
{
    return call([this, jobs] { addJobs(jobs); });
}

void TransferQueueActor::setRepositoryProvider(RepositoryProvider provider)
{
    std::lock_guard lock(m_providerMutex);
    m_repositoryProvider = std::move(provider);
}

QFuture<void> TransferQueueActor::pause(const QUuid& jobId)
{
    return call([this, jobId] { pauseJob(jobId); });
}

QFuture<void> TransferQueueActor::resume(const QUuid& jobId)
{
    return call([this, jobId] { resumeJob(jobId); });
}

QFuture<void> TransferQueueActor::cancel(const QUuid& jobId)
{
    return call([this, jobId] { cancelJob(jobId); });
}

QFuture<void> TransferQueueActor::retry(const QUuid& jobId)
{
    return call([this, jobId] { retryJob(jobId); });
}

QFuture<void> TransferQueueActor::clearCompleted()
{
    return call([this] { clearFinishedJobs(); });
}

std::unique_ptr<TransferJobStream> TransferQueueActor::jobUpdates()
{
    auto stream = std::make_unique<TransferJobStream>();
    std::lock_guard lock(m_listenerMutex);
    m_listener = stream->inbox();
    return stream;
}

qsizetype TransferQueueActor::indexOf(const QUuid& jobId) const
{
    return m_indexById.value(jobId, -1);
}

void TransferQueueActor::markQueued(qsizetype index)
{
    m_jobs[index].status = TransferStatus::Queued;
    m_firstMaybeQueued = std::min(m_firstMaybeQueued, index);
}

void TransferQueueActor::rebuildIndex()
{
    m_indexById.clear();
    m_indexById.reserve(m_jobs.size());
    for (qsizetype i = 0; i < m_jobs.size(); ++i)
        m_indexById.insert(m_jobs.at(i).id, i);
    m_firstMaybeQueued = 0;
}

void TransferQueueActor::addJobs(const QList<TransferJob>& jobs)
{
    m_jobs.reserve(m_jobs.size() + jobs.size());
    for (const TransferJob& job : jobs) {
        // Jobs are found by id: a second job with a known id would be unreachable.
        if (m_indexById.contains(job.id)) {
            m_log.warning(QStringLiteral("Ignoring a job enqueued twice: %1"),
                          {job.id.toString(QUuid::WithoutBraces)});
            continue;
        }
        m_indexById.insert(job.id, m_jobs.size());
        m_jobs.append(job);
        if (job.status == TransferStatus::Queued)
            m_firstMaybeQueued = std::min(m_firstMaybeQueued, m_jobs.size() - 1);
    }
    publish();
    processQueue();
}

void TransferQueueActor::pauseJob(const QUuid& jobId)
{
    const qsizetype index = indexOf(jobId);
    if (index < 0 || m_jobs.at(index).status != TransferStatus::Running)
        return;
    m_jobs[index].status = TransferStatus::Paused;
    // The operation itself runs on; only the slot is given up.
    m_runningTasks.remove(jobId);
    publish();
}

void TransferQueueActor::resumeJob(const QUuid& jobId)
{
    const qsizetype index = indexOf(jobId);
    if (index < 0 || m_jobs.at(index).status != TransferStatus::Paused)
        return;
    markQueued(index);
    publish();
    processQueue();
}

void TransferQueueActor::cancelJob(const QUuid& jobId)
{
    const qsizetype index = indexOf(jobId);
    if (index < 0)
        return;
    m_jobs[index].status = TransferStatus::Canceled;
    m_runningTasks.remove(jobId);
    publish();
}

void TransferQueueActor::retryJob(const QUuid& jobId)
{
    const qsizetype index = indexOf(jobId);
    if (index < 0 || m_jobs.at(index).status != TransferStatus::Failed)
        return;
    TransferJob& job = m_jobs[index];
    job.progress = 0;
    job.bytesTransferred = 0;
    job.error.reset();
    markQueued(index);
    publish();
    processQueue();
}

void TransferQueueActor::clearFinishedJobs()
{
    const auto removed =
        m_jobs.removeIf([](const TransferJob& job) { return isFinished(job.status); });
    if (removed > 0) {
        rebuildIndex();
        for (auto it = m_movesCopied.begin(); it != m_movesCopied.end();)
            it = m_indexById.contains(it.key()) ? std::next(it) : m_movesCopied.erase(it);
    }
    publish();
}

void TransferQueueActor::processQueue()
{
    while (m_runningTasks.size() < maxConcurrent) {
        while (m_firstMaybeQueued < m_jobs.size() &&
               m_jobs.at(m_firstMaybeQueued).status != TransferStatus::Queued)
            ++m_firstMaybeQueued;
        if (m_firstMaybeQueued >= m_jobs.size())
            return;
        startJob(m_firstMaybeQueued);
    }
}

void TransferQueueActor::startJob(qsizetype index)
{
    TransferJob& job = m_jobs[index];
    const QUuid jobId = job.id;
    job.status = TransferStatus::Running;
    publish();

    // A resumed job whose earlier operation still runs takes that operation back instead of
    // starting a second one on the phone.
    if (const auto operation = m_operations.constFind(jobId); operation != m_operations.cend()) {
        m_runningTasks.insert(jobId, *operation);
        return;
    }

    const quint64 attemptId = m_nextAttemptId++;
    m_runningTasks.insert(jobId, attemptId);
    m_operations.insert(jobId, attemptId);
    m_speedTracking.insert(jobId, SpeedSample{0, m_options.clock()});
    m_lastPublishTime.remove(jobId);

    TransferAttempt::Input input;
    input.job = job;
    {
        std::lock_guard lock(m_providerMutex);
        input.provider = m_repositoryProvider;
    }
    if (job.type == TransferType::Download) {
        const QString ruleText = TransferPreferences(*m_options.preferences).overwriteRuleText();
        input.overwriteRule = overwriteRuleFromText(ruleText).value_or(OverwriteRule::Ask);
    }
    input.unfinishedDownloads = m_unfinishedDownloads;
    if (const auto copied = m_movesCopied.constFind(jobId); copied != m_movesCopied.cend())
        input.movedCopy = *copied;
    auto gate = std::make_shared<ProgressRateGate>(m_options.clock);
    input.progress = [mailbox = m_mailbox, gate, jobId, attemptId, this](qint64 bytes,
                                                                         qint64 total) {
        if (!gate->shouldFire())
            return;
        mailbox->post([=, this] { updateProgress(jobId, attemptId, bytes, total); });
    };
    input.onMoveCopy = [mailbox = m_mailbox, jobId,
                        this](const TransferAttempt::CopiedSource& source) {
        mailbox->post([=, this] { moveCopied(jobId, source); });
    };

    m_pool->start([mailbox = m_mailbox, commits = std::weak_ptr(m_commits),
                   input = std::move(input), jobId, attemptId, this] {
        const TransferAttempt::Result result = TransferAttempt(input).run();
        // Posted first, so that the engine learns of the download before its commit's outcome.
        mailbox->post([=, this] { finishAttempt(jobId, attemptId, result); });
        // A download that ends after the engine has gone was given up: its target removes its
        // file instead.
        const std::shared_ptr<CommitStep> step = commits.lock();
        if (result.toCommit && step) {
            step->submit(result.toCommit, [=, this](const TransferAttempt::Result& outcome) {
                mailbox->post([=, this] { finishCommit(jobId, attemptId, outcome); });
            });
        }
    });
}

void TransferQueueActor::moveCopied(const QUuid& jobId, const TransferAttempt::CopiedSource& source)
{
    if (indexOf(jobId) >= 0)
        m_movesCopied.insert(jobId, source);
}

void TransferQueueActor::finishAttempt(const QUuid& jobId, quint64 attemptId,
                                       const TransferAttempt::Result& outcome)
{
    const auto operation = m_operations.constFind(jobId);
    if (operation == m_operations.cend() || *operation != attemptId)
        return;
    const bool attached = m_runningTasks.value(jobId) == attemptId;
    if (attached)
        m_runningTasks.remove(jobId);
    m_speedTracking.remove(jobId);
    m_lastPublishTime.remove(jobId);
    if (outcome.succeeded && outcome.toCommit) {
        // The file is whole but not yet on the disk under its name: the job stays as it is until
        // the commit step is done, and its slot goes to the next job meanwhile. Its figures show
        // the whole transfer, which the progress gate may have left out.
        const qsizetype index = indexOf(jobId);
        if (attached && index >= 0 && outcome.lastReport) {
            TransferJob& job = m_jobs[index];
            job.bytesTransferred = outcome.lastReport->bytes;
            job.totalBytes = outcome.lastReport->total;
            job.progress = job.totalBytes >= 1 ? double(job.bytesTransferred) / job.totalBytes : 0;
            publish();
        }
        processQueue();
        return;
    }
    m_operations.erase(operation);
    settle(jobId, attached, outcome);
}

void TransferQueueActor::finishCommit(const QUuid& jobId, quint64 attemptId,
                                      const TransferAttempt::Result& outcome)
{
    const auto operation = m_operations.constFind(jobId);
    if (operation == m_operations.cend() || *operation != attemptId)
        return;
    m_operations.erase(operation);
    // Still running, or resumed meanwhile: the outcome counts as the job's own.
    const bool resumed = m_runningTasks.value(jobId) == attemptId;
    if (resumed)
        m_runningTasks.remove(jobId);
    const qsizetype index = indexOf(jobId);
    settle(jobId, resumed || (index >= 0 && m_jobs.at(index).status == TransferStatus::Running),
           outcome);
}

void TransferQueueActor::settle(const QUuid& jobId, bool attached,
                                const TransferAttempt::Result& outcome)
{
    const QString idText = jobId.toString(QUuid::WithoutBraces);
    const qsizetype index = indexOf(jobId);
    if (index >= 0) {
        TransferJob& job = m_jobs[index];
        if (outcome.succeeded) {
            // Done is done, even if the job was paused or canceled while it ran.
            job.status = TransferStatus::Completed;
            job.progress = 1.0;
            if (outcome.skipped) {
                job.bytesTransferred = 0;
            } else if (outcome.fileSize) {
                job.bytesTransferred = job.totalBytes = *outcome.fileSize;
            } else if (outcome.lastReport) {
                job.bytesTransferred = outcome.lastReport->bytes;
                job.totalBytes = outcome.lastReport->total;
            }
            m_movesCopied.remove(jobId);
            m_completedSincePublication.append(job);
            m_log.info(QStringLiteral("Job completed: %1"), {idText});
        } else if (!attached) {
            // The user paused or canceled it meanwhile; that choice stands.
            m_log.info(QStringLiteral("Job stopped by the user failed meanwhile: %1 — %2"),
                       {idText, outcome.errorMessage});
        } else if (outcome.retryable && job.retryCount < maxRetries) {
            ++job.retryCount;
            markQueued(index);
            // The counts are public; only the job id is a private value.
            m_log.error(QStringLiteral("Job failed, retrying (%1/%2): ")
                                .arg(job.retryCount)
                                .arg(maxRetries) +
                            QStringLiteral("%1"),
                        {idText});
        } else {
            job.status = TransferStatus::Failed;
            job.error = TransferError{outcome.errorMessage};
            m_log.error(QStringLiteral("Job permanently failed: %1 — %2"),
                        {idText, outcome.errorMessage});
        }
    }
    publish();
    processQueue();
    // Nothing left to run: the final state need not wait for the publication spacing.
    if (m_runningTasks.isEmpty() && m_publishTimer->isActive()) {
        m_publishTimer->stop();
        sendPublication();
    }
}

void TransferQueueActor::updateProgress(const QUuid& jobId, quint64 attemptId,
                                        qint64 bytesTransferred, qint64 totalBytes)
{
    // Only the attempt that holds the job's slot moves its figures.
    if (m_runningTasks.value(jobId) != attemptId)
        return;
    const qsizetype index = indexOf(jobId);
    if (index < 0 || m_jobs.at(index).status != TransferStatus::Running)
        return;
    TransferJob& job = m_jobs[index];
    job.bytesTransferred = bytesTransferred;
    job.totalBytes = totalBytes;
    job.progress = totalBytes >= 1 ? double(bytesTransferred) / double(totalBytes) : 0.0;

    using std::chrono::duration;
    const auto now = m_options.clock();
    if (auto sample = m_speedTracking.find(jobId); sample != m_speedTracking.end()) {
        const double elapsed = duration<double>(now - sample->lastTime).count();
        if (elapsed > 0.5) {
            job.transferSpeed = double(bytesTransferred - sample->lastBytes) / elapsed;
            *sample = SpeedSample{bytesTransferred, now};
        }
    }
    const auto last = m_lastPublishTime.constFind(jobId);
    if (last == m_lastPublishTime.cend() ||
        now - *last >= std::chrono::steady_clock::duration(ProgressRateGate::defaultInterval)) {
        m_lastPublishTime.insert(jobId, now);
        publish();
    }
}

void TransferQueueActor::publish()
{
    if (m_publishTimer->isActive())
        return; // the publication already scheduled will carry this change too
    if (m_options.publishSpacing.count() <= 0) {
        sendPublication();
        return;
    }
    const auto perJob = std::chrono::duration_cast<std::chrono::milliseconds>(
        publicationSpacingPerJob * m_jobs.size());
    const qint64 spacing = std::max(m_options.publishSpacing, perJob).count();
    if (!m_sinceLastPublication.isValid() || m_sinceLastPublication.elapsed() >= spacing) {
        sendPublication();
        return;
    }
    m_publishTimer->start(int(spacing - m_sinceLastPublication.elapsed()));
}

void TransferQueueActor::sendPublication()
{
    m_sinceLastPublication.start();
    std::shared_ptr<TransferJobStream::Inbox> listener;
    {
        std::lock_guard lock(m_listenerMutex);
        listener = m_listener;
    }
    QList<TransferJob> completed = std::exchange(m_completedSincePublication, {});
    if (listener)
        listener->offer(m_jobs, completed);
}

} // namespace qb
